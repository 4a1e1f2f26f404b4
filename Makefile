# One-command set-up, build and test. Every target prepares what it needs:
# Python 3.13 venv in .venv with pinned packages, Debian packages, the module.
VENV      := .venv
PY        := $(VENV)/bin/python
CPP_BUILD := build/cpp
SOURCES   := $(shell find core bindings -name '*.cpp' -o -name '*.hpp') CMakeLists.txt pyproject.toml

.PHONY: demo test test-cpp test-python bench bench-quick system-deps clean

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

clean:
	rm -rf build $(VENV)
