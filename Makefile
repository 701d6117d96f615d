# Two commands: `make run` plays the demo, `make test` runs the whole suite.
# Both install what is missing first, then configure and build in build/.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: run test build deps-run deps-test clean

run: deps-run
	cmake -S . -B $(BUILD) -DAFTERGLOW_TESTS=OFF -DAFTERGLOW_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD)/share/afterglow && ../../bin/afterglow

test: deps-test
	cmake -S . -B $(BUILD) -DAFTERGLOW_TESTS=ON -DAFTERGLOW_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

deps-run:
	scripts/install-deps run

deps-test:
	scripts/install-deps test

clean:
	rm -rf $(BUILD)
