# One-command set-up, build and test. Every target prepares what it needs:
# Python 3.13 venv in .venv with pinned packages, Debian packages, the module.
VENV      := .venv
PY        := $(VENV)/bin/python
CPP_BUILD := build/cpp
SOURCES   := $(shell find core bindings -name '*.cpp' -o -name '*.hpp') CMakeLists.txt pyproject.toml

.PHONY: demo test test-cpp test-python bench bench-quick sanitize system-deps clean

demo: $(VENV)/.installed
	$(PY) examples/demo.py

test: test-cpp test-python

$(VENV)/.deps: requirements.txt scripts/find-python.sh
	@python=$$(scripts/find-python.sh) && \
	  { [ -x $(PY) ] || $$python -m venv $(VENV); }
	$(PY) -m pip install -q --disable-pip-version-check -r requirements.txt
	@touch $@

$(VENV)/.installed: $(VENV)/.deps $(SOURCES)
	$(PY) -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps .
	@touch $@

system-deps:
	@scripts/system-deps.sh g++ libgtest-dev

test-cpp: system-deps $(VENV)/.deps
	@$(VENV)/bin/cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DTESSALINE_BUILD_MODULE=OFF -DTESSALINE_BUILD_TESTS=ON >/dev/null
	@$(VENV)/bin/cmake --build $(CPP_BUILD) -j2
	@cd $(CPP_BUILD) && { ../../$(VENV)/bin/ctest --output-on-failure -j2 > ctest.log 2>&1; rc=$$?; \
	  if [ $$rc -ne 0 ]; then cat ctest.log; else tail -n 3 ctest.log; fi; exit $$rc; }

test-python: $(VENV)/.installed
	$(PY) -m pytest -q tests/python

bench: $(VENV)/.installed
	$(PY) -m pip install -q --disable-pip-version-check -r bench/requirements.txt
	$(PY) bench/run.py

bench-quick: $(VENV)/.installed
	$(PY) -m pip install -q --disable-pip-version-check -r bench/requirements.txt
	$(PY) bench/run.py --quick

# AddressSanitizer + UndefinedBehaviorSanitizer over both suites; any report fails.
# The interpreter itself is not instrumented, so the runtime is preloaded and
# leak detection (which would report the interpreter's own arenas) is off.
SAN_BUILD := build/sanitize
SAN_FLAGS := -fsanitize=address,undefined;-fno-sanitize-recover=all;-fno-omit-frame-pointer
sanitize: system-deps $(VENV)/.deps
	@$(VENV)/bin/cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALINE_BUILD_TESTS=ON "-DTESSALINE_SANITIZE_FLAGS=$(SAN_FLAGS)" \
	  -DPython_EXECUTABLE=$(abspath $(PY)) -Dpybind11_DIR=$$($(PY) -m pybind11 --cmakedir) >/dev/null
	@$(VENV)/bin/cmake --build $(SAN_BUILD) -j2
	cd $(SAN_BUILD) && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ../../$(VENV)/bin/ctest --output-on-failure -j2 > ctest.log 2>&1; \
	  rc=$$?; if [ $$rc -ne 0 ]; then cat ctest.log; else tail -n 3 ctest.log; fi; exit $$rc
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  LD_PRELOAD=$$(g++ -print-file-name=libasan.so) PYTHONPATH=$(SAN_BUILD) \
	  $(PY) -m pytest -q -p no:cacheprovider tests/python

clean:
	rm -rf build $(VENV)
