"""Arrow arrays read from their buffers, against pyarrow's own conversion,
at bit offsets that do not start a byte."""

import numpy as np
import pytest

from tessaline.report import arrow_arrays

pa = pytest.importorskip("pyarrow")


@pytest.mark.parametrize("start, length", [(0, 20), (3, 11), (9, 0), (13, 7)])
def test_views_equal_pyarrow(start, length):
    floats = pa.array([None if i % 3 == 0 else i / 2 for i in range(20)]).slice(start, length)
    expected = floats.to_numpy(zero_copy_only=False)
    assert np.array_equal(arrow_arrays.float_values(floats), expected, equal_nan=True)
    whole = pa.array([i / 2 for i in range(20)]).slice(start, length)
    assert np.array_equal(arrow_arrays.float_values(whole), whole.to_numpy())
    indices = pa.array(range(20), pa.int32()).slice(start, length)
    assert arrow_arrays.fixed_width(indices, np.int32).tolist() == indices.to_pylist()
    flags = pa.array([i % 4 == 1 for i in range(20)]).slice(start, length)
    assert arrow_arrays.flags(flags).tolist() == flags.to_pylist()
