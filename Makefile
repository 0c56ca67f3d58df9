# Front door: `make run` and `make test`. Everything else is CMake.
BUILD     ?= build
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE     ?= cmake
CTEST     ?= ctest
SAMPLE    ?= examples/coffee-post-320x240.ppm
RUN_OPTS  ?= -C16

.PHONY: all build configure test run clean

all: build

$(BUILD)/CMakeCache.txt:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

configure: $(BUILD)/CMakeCache.txt

build: configure
	$(CMAKE) --build $(BUILD) -j $(JOBS)

test: build
	$(CTEST) --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The dump prefix goes in front of the whole output path, so the job runs
# inside out/run and the dumps land there as dump2_sample.ppm, dump3_…
run: build
	mkdir -p out/run
	cd out/run && ../../$(BUILD)/tavrel $(RUN_OPTS) ../../$(SAMPLE) sample
	@echo "dumps written to out/run/"

clean:
	rm -rf $(BUILD) out
