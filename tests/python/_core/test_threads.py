"""A pool lends its idle workers to the permutation tests still running."""

from package_under_test import tessaline as tl  # noqa: F401  (the package under test first)

from tessaline._core import native
from tessaline._core.threads import IdleLending


def test_workers_are_lent_once_every_task_is_given_and_taken_back_at_the_end():
    spare = native.spare_threads()
    lending = IdleLending(3, spare)
    tasks = [lending.task(lambda: None) for _ in range(5)]
    tasks[0]()
    # Before the last task is given, a worker between tasks is not idle.
    assert spare.idle == 0
    lending.close()
    assert spare.idle == 0  # four tasks left for three workers
    idle = []
    for task in tasks[1:]:
        task()
        idle.append(spare.idle)
    assert idle == [0, 1, 2, 3]
    assert spare.take(2) == 2 and spare.idle == 1  # a test borrows two...
    spare.give(2)  # ...and gives them back
    lending.end()
    assert spare.idle == 0


def test_a_pool_with_fewer_tasks_than_workers_lends_the_rest_at_once():
    spare = native.spare_threads()
    lending = IdleLending(4, spare)
    task = lending.task(lambda: 7)
    lending.close()
    assert spare.idle == 3
    assert task() == 7 and spare.idle == 4
    lending.end()
    assert spare.idle == 0
