# One-command set-up, build and test. Every target prepares what it needs:
# Python 3.13 venv in .venv with pinned packages, Debian packages, the module.
VENV      := .venv
PY        := $(VENV)/bin/python
CPP_BUILD := build/cpp
SOURCES   := $(shell find core bindings python -name '*.cpp' -o -name '*.hpp' -o -name '*.py' \
               -o -name '*.pyi' -o -name py.typed) CMakeLists.txt pyproject.toml

.PHONY: demo test test-cpp test-python lint format bench bench-quick sanitize fuzz tsan mutants system-deps \
        wheel wheel-check docs docs-outputs clean

demo: $(VENV)/.installed
	@echo "running examples/demo.py, then the report on the German credit data (build/report.html)"
	$(PY) examples/demo.py
	$(PY) -m tessaline report examples/data/germancredit.csv --target creditability --event bad \
	  --scorecard --html build/report.html
	@echo "edit the bins in a browser: $(PY) -m tessaline studio examples/data/germancredit.csv --target creditability --event bad"

test: test-cpp test-python

# The demo's set (build tools, NumPy, scikit-learn, matplotlib) is all that
# building and `make demo` need; the tests add the rest of requirements.txt.
$(VENV)/.demo-deps: requirements-demo.txt scripts/find-python.sh
	@scripts/system-deps.sh g++
	@python=$$(scripts/find-python.sh) && \
	  { [ -x $(PY) ] || $$python -m venv $(VENV); }
	@echo "installing into $(VENV): the build tools, NumPy, scikit-learn and matplotlib"
	@scripts/pip-each.sh $(PY) requirements-demo.txt
	@touch $@

$(VENV)/.deps: requirements.txt $(VENV)/.demo-deps
	@echo "installing into $(VENV): the test tools and the optional extras (pandas, polars, pyarrow, DuckDB, pyspark, ...)"
	@scripts/pip-each.sh $(PY) requirements.txt
	@touch $@

# The compile shows a line per unit (scripts/pip-build.sh), pip's whole log
# is build/install.log.
$(VENV)/.installed: $(VENV)/.demo-deps $(SOURCES)
	@echo "building and installing tessaline into $(VENV) (the native modules compile now)"
	@scripts/pip-build.sh build/install.log $(PY) -m pip install --no-build-isolation --no-deps .
	@touch $@

# The tests' Debian packages; scripts/system-deps.sh says why each is needed.
system-deps:
	@scripts/system-deps.sh g++ libgtest-dev chromium openjdk-17-jre-headless postgresql

# dist/: the source distribution and a manylinux wheel of both modules.
wheel: $(VENV)/.deps
	@scripts/system-deps.sh g++
	@scripts/build-wheel.sh $(abspath $(PY))

# The wheel in a fresh venv with no compiler on PATH: import, a table fit,
# transform, to_sql in SQLite and the report command (tests/wheel/smoke.py).
wheel-check: wheel
	@scripts/wheel-check.sh $$(scripts/find-python.sh)

test-cpp: system-deps $(VENV)/.deps
	@echo "building the C++ tests of the core ($(CPP_BUILD))"
	@$(VENV)/bin/cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DTESSALINE_BUILD_MODULE=OFF -DTESSALINE_BUILD_TESTS=ON >/dev/null
	@$(VENV)/bin/cmake --build $(CPP_BUILD) -j2
	@$(MAKE) --no-print-directory ctest CTEST_LOG=ctest.log
	@echo "the C++ tests again on the plain path (TESSALINE_DISABLE_SIMD=1): the same bits without AVX2 or AVX-512"
	@TESSALINE_DISABLE_SIMD=1 $(MAKE) --no-print-directory ctest CTEST_LOG=ctest-plain.log

.PHONY: ctest
ctest:
	@cd $(CPP_BUILD) && { ../../$(VENV)/bin/ctest --output-on-failure -j2 > $(CTEST_LOG) 2>&1; rc=$$?; \
	  if [ $$rc -ne 0 ]; then cat $(CTEST_LOG); else tail -n 3 $(CTEST_LOG); fi; exit $$rc; }

# Both cores: pytest-xdist's two workers, each file's tests on one of them, so
# that a module's fixtures (a server, a fitted model) are made once; a line
# naming the running tests after 20 s without a finished one
# (tests/python/conftest.py), and the slowest tests at the end.
PYTEST_WORKERS ?= 2
test-python: system-deps $(VENV)/.deps $(VENV)/.installed
	$(PY) -m pytest -q -n $(PYTEST_WORKERS) --dist loadfile --heartbeat 20 --durations 12 tests/python

# The house checks: the package's layers (import-linter), ruff's lint and
# format over Python, clang-format over C++; `make format` applies both formats.
CXX_SOURCES = $$(git ls-files '*.cpp' '*.hpp')
lint: $(VENV)/.deps
	@cd python && ../$(VENV)/bin/lint-imports --config ../pyproject.toml --no-cache | tail -n 4
	$(VENV)/bin/ruff check --quiet .
	$(VENV)/bin/ruff format --check --quiet .
	$(VENV)/bin/clang-format --dry-run -Werror $(CXX_SOURCES)

format: $(VENV)/.deps
	$(VENV)/bin/ruff format --quiet .
	$(VENV)/bin/clang-format -i $(CXX_SOURCES)

# One table against the peers (installed here, for the benchmarks only) and the
# scale, thread and memory checks, at 1e5, 1e6 and 1e7 rows. `make bench-quick`
# is `make bench` in its --quick mode: 1e5 and 1e6 rows. Both fail when a
# script's enforced target is missed, when a scale, thread or memory check is
# not met, and when a row's ratio exceeds 1.6 times the one bench/baseline.json
# holds for this machine model (`bench/run.py --quick --update-baseline`
# writes it).
bench: $(VENV)/.installed
	$(PY) -m pip install -q --disable-pip-version-check -r bench/requirements.txt
	$(PY) bench/run.py

bench-quick: $(VENV)/.installed
	$(PY) -m pip install -q --disable-pip-version-check -r bench/requirements.txt
	$(PY) bench/run.py --quick

# The documentation site, into build/docs/html: the guide's figures and the
# gallery are drawn by their own code as the site builds, afresh each time
# (never kept from a build of an older package), and any warning fails it.
# `make docs-outputs` writes into the guide's and the README's pages the
# outputs their examples print now (the tests fail while they differ).
DOCS_BUILD := build/docs
$(VENV)/.docs-deps: requirements-docs.txt $(VENV)/.deps
	$(PY) -m pip install -q --disable-pip-version-check -r requirements-docs.txt
	@touch $@

docs: system-deps $(VENV)/.docs-deps $(VENV)/.installed
	rm -rf docs/api/generated docs/gallery
	MPLBACKEND=Agg $(PY) -m sphinx -E -W --keep-going -q -b html -d $(DOCS_BUILD)/doctrees docs $(DOCS_BUILD)/html
	@echo "the site: $(DOCS_BUILD)/html/index.html"

docs-outputs: $(VENV)/.deps $(VENV)/.installed
	$(PY) docs/snippets.py --update

# AddressSanitizer + UndefinedBehaviorSanitizer over both suites; any report fails.
# The interpreter itself is not instrumented, so the runtime is preloaded, with
# the C++ runtime whose exception entry points it must find at start-up, and
# leak detection (which would report the interpreter's own arenas) is off.
# Reports also go to files, so that one from a subprocess, or one lost when the
# interpreter aborts under pytest's capture, still fails the run and is shown.
# -O1 -g1 halves the build and keeps file:line in every stack trace.
# The tests import the package from the sources beside the sanitized modules,
# never an installed one, and the run first proves that both native modules
# it loads are the instrumented ones (scripts/check-sanitized.py).
SAN_BUILD := build/sanitize
SAN_FLAGS := -fsanitize=address,undefined,float-cast-overflow;-fno-sanitize-recover=all;-fno-omit-frame-pointer
SAN_LOGS  := $(abspath $(SAN_BUILD))/reports
SAN_ENV   := UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$(SAN_LOGS)/ubsan
SAN_CHECK := if ls $(SAN_LOGS)/* >/dev/null 2>&1; then cat $(SAN_LOGS)/*; rc=1; fi; exit $$rc
SAN_PY    := $(SAN_ENV) ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:log_path=$(SAN_LOGS)/asan \
  LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so)" \
  PYTHONPATH=$(SAN_BUILD):python $(PY)
sanitize: system-deps $(VENV)/.deps $(VENV)/.installed
	@$(VENV)/bin/cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1" \
	  -DTESSALINE_BUILD_TESTS=ON "-DTESSALINE_SANITIZE_FLAGS=$(SAN_FLAGS)" \
	  -DPython_EXECUTABLE=$(abspath $(PY)) -Dpybind11_DIR=$$($(PY) -m pybind11 --cmakedir) >/dev/null
	@$(VENV)/bin/cmake --build $(SAN_BUILD) -j2
	@rm -rf $(SAN_LOGS) && mkdir -p $(SAN_LOGS)
	@cd $(SAN_BUILD) && $(SAN_ENV) ASAN_OPTIONS=log_path=$(SAN_LOGS)/asan \
	  ../../$(VENV)/bin/ctest --output-on-failure -j2 > ctest.log 2>&1; \
	  rc=$$?; if [ $$rc -ne 0 ]; then cat ctest.log; else tail -n 3 ctest.log; fi; $(SAN_CHECK)
	@$(SAN_PY) scripts/check-sanitized.py $(SAN_BUILD)
	@$(SAN_PY) -m pytest -q -p no:cacheprovider tests/python; rc=$$?; $(SAN_CHECK)

# libFuzzer harnesses of the core (tests/fuzz, its own clang build with
# AddressSanitizer and UndefinedBehaviorSanitizer), each run for FUZZ_SECONDS
# from the committed seeds; new inputs stay in the build tree, and a failing
# input is kept there as crash-* beside the harness's log.
CLANG_DEPS   := clang libclang-rt-14-dev
FUZZ_BUILD   := build/fuzz
FUZZ_SECONDS ?= 30
FUZZ_HARNESSES := $(notdir $(wildcard tests/fuzz/corpus/fuzz_*))
fuzz: $(VENV)/.deps
	@scripts/system-deps.sh $(CLANG_DEPS)
	@$(VENV)/bin/cmake -S tests/fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@$(VENV)/bin/cmake --build $(FUZZ_BUILD) -j2
	@for h in $(FUZZ_HARNESSES); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$h tests/fuzz/corpus/$$h; \
	  UBSAN_OPTIONS=print_stacktrace=1 $(FUZZ_BUILD)/$$h -max_total_time=$(FUZZ_SECONDS) -timeout=20 \
	    -rss_limit_mb=2560 -max_len=8192 -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/$$h- \
	    $(FUZZ_BUILD)/corpus/$$h tests/fuzz/corpus/$$h > $(FUZZ_BUILD)/$$h.log 2>&1 \
	    || { tail -n 80 $(FUZZ_BUILD)/$$h.log; echo "$$h failed: see $(FUZZ_BUILD)/$$h.log"; exit 1; }; \
	  printf '%-18s %s\n' $$h "$$(grep -E '^#[0-9]+[[:space:]]+DONE' $(FUZZ_BUILD)/$$h.log)"; \
	done

# ThreadSanitizer over the C++ tests (clang), including the multi-threaded ones;
# the deliberate races of the concurrent-writer test are left to AddressSanitizer.
TSAN_BUILD := build/tsan
tsan: system-deps $(VENV)/.deps
	@scripts/system-deps.sh $(CLANG_DEPS)
	@$(VENV)/bin/cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALINE_BUILD_MODULE=OFF \
	  -DTESSALINE_BUILD_TESTS=ON "-DTESSALINE_SANITIZE_FLAGS=-fsanitize=thread;-fno-omit-frame-pointer" >/dev/null
	@$(VENV)/bin/cmake --build $(TSAN_BUILD) -j2
	@TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(TSAN_BUILD)/tessaline_tests --gtest_brief=1 --gtest_filter=-ConcurrentWrites.* \
	  > $(TSAN_BUILD)/tests.log 2>&1; rc=$$?; if [ $$rc -ne 0 ]; then cat $(TSAN_BUILD)/tests.log; \
	  else tail -n 3 $(TSAN_BUILD)/tests.log; fi; exit $$rc

# Mutation score of `make test` over seeded mutants of core/src, each built and
# tested in a scratch clone of REV (scripts/mutants.py); MUTANTS and SEED set the draw.
REV     ?= HEAD
MUTANTS ?= 40
SEED    ?= 0
mutants:
	@python=$$(scripts/find-python.sh) && $$python scripts/mutants.py --rev $(REV) --count $(MUTANTS) --seed $(SEED)

clean:
	rm -rf build $(VENV)
