# Front door: `make run` and `make test`. Everything else is CMake.
BUILD     ?= build
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE     ?= cmake
CTEST     ?= ctest
CPACK     ?= cpack
SAMPLE    ?= examples/coffee-320x240.ppm
RUN_OPTS  ?= -C16

CORPUS    ?= ../shared/corpus

.PHONY: bench bench-tools all build configure test test-asan test-tsan run gallery compare package package-tools clean

all: build

$(BUILD)/CMakeCache.txt:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

configure: $(BUILD)/CMakeCache.txt

build: configure
	$(CMAKE) --build $(BUILD) -j $(JOBS)

# In CI (CI=true) the suite runs a second time under the sanitizers.
test: build
	$(CTEST) --test-dir $(BUILD) --output-on-failure -j $(JOBS)
ifeq ($(CI),true)
	$(MAKE) test-asan
	$(MAKE) test-tsan
endif

# The whole suite built with AddressSanitizer (leak checks included) and
# UndefinedBehaviorSanitizer in a tree of its own; any report fails the test
# that triggered it.
ASAN_BUILD ?= build-asan
test-asan:
	$(CMAKE) -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_SANITIZE=ON
	$(CMAKE) --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(CTEST) --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The differential tests, which force the engine's second thread on, and the
# library's thread tests (two builds at once, many readers of one tree), built
# with ThreadSanitizer in a tree of their own; a race report fails the run.
TSAN_BUILD ?= build-tsan
test-tsan:
	$(CMAKE) -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_TSAN=ON
	$(CMAKE) --build $(TSAN_BUILD) -j $(JOBS) --target tavrel_tests
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  $(TSAN_BUILD)/tests/tavrel_tests --gtest_filter='Differential.*:LibraryThreads.*'

# The dump prefix goes in front of the whole output path, so the job runs
# inside out/run and the dumps land there as dump2_sample.ppm, dump3_... The
# input is linked in under a plain name: the extension test reads the text
# after the first dot, which a relative path like ../x.ppm would spoil.
run: build
	mkdir -p out/run
	ln -sf ../../$(SAMPLE) out/run/input.ppm
	cd out/run && ../../$(BUILD)/tavrel $(RUN_OPTS) input.ppm sample
	@echo "dumps written to out/run/"

# The README gallery: the sample photo at 2, 4, ... 64 colours as PNG files in
# docs/gallery/. The script installs netpbm for the conversion when missing.
gallery:
	BUILD=$(BUILD) scripts/make-gallery.sh

# Tavrel beside pngquant, ImageMagick and netpbm's pnmquant on a folder of
# PPM photos, without dithering: delta E 1976, CIEDE2000 and PSNR tables in
# docs/quality.md and their plot docs/quality.png. The script installs those
# tools when missing.
PHOTOS ?= $(CORPUS)
compare:
	BUILD=$(BUILD) scripts/compare.sh $(PHOTOS)

# The Debian packages tavrel, libtavrel0 and libtavrel-dev in $(BUILD)/. Their
# Depends fields are read off the binaries by dpkg-shlibdeps, which CPack
# finds through `file`; a fresh Debian 12 has neither, so they are installed
# first when missing. CPack warns that it writes no maintainer scripts for
# libtavrel0 (cmake/Packaging.cmake says why).
package: build package-tools
	cd $(BUILD) && $(CPACK) -G DEB
	@ls $(BUILD)/*.deb

package-tools:
	@need=""; \
	command -v dpkg-shlibdeps >/dev/null 2>&1 || need="$$need dpkg-dev"; \
	command -v file >/dev/null 2>&1 || need="$$need file"; \
	if [ -n "$$need" ]; then \
	  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	  $$sudo apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y $$need; \
	fi

# Speed and memory on the photo corpus, against the reference build of the
# literal procedure, with identity checks, and against pngquant on the same
# photos as PNG (pngquant and netpbm are installed here when missing, never for
# the product or the tests). BASELINE=path/to/an/earlier/tavrel adds the
# one-core comparison with it. Dumps go to a RAM-backed folder where one exists.
# Then the library on garden and ladybird: its build against -C0, painting
# against memcpy, quality against the build, memory, progress and stopping,
# and with BASELINE, -C256 against that binary.
BASELINE ?=
bench: bench-tools
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTAVREL_BENCH=ON
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target tavrel tavrel_reference_cli progression_bench micro_bench library_bench
	$(BUILD)/bench/micro_bench --benchmark_min_time=0.2
	$(BUILD)/bench/progression_bench --tavrel $(BUILD)/tavrel \
	  --reference $(BUILD)/tests/tavrel-reference --corpus $(CORPUS) \
	  $(if $(BASELINE),--baseline $(BASELINE)) $(BENCH_OPTS)
	$(BUILD)/bench/library_bench --tavrel $(BUILD)/tavrel --corpus $(CORPUS) \
	  $(if $(BASELINE),--before $(BASELINE))

bench-tools:
	@need=""; \
	command -v pngquant >/dev/null 2>&1 || need="$$need pngquant"; \
	command -v pnmtopng >/dev/null 2>&1 || need="$$need netpbm"; \
	if [ -n "$$need" ]; then \
	  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	  $$sudo apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y $$need; \
	fi

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) out

# Fuzzing with libFuzzer: clang builds the targets in $(FUZZ_BUILD), then each
# runs for FUZZ_TIME seconds on a working corpus there, seeded from
# tests/fuzz/corpus/<target> and tests/fuzz/crashers/<target>. A crash input
# lands in $(FUZZ_BUILD)/artifacts/<target>/; copied into
# tests/fuzz/crashers/<target>/ it is replayed by `make test` from then on.
FUZZ_BUILD   ?= build-fuzz
FUZZ_TIME    ?= 60
FUZZ_CXX     ?= clang++-14
FUZZ_TARGETS ?= image_open cmdline job
FUZZ_OPTS    ?= -timeout=25

.PHONY: fuzz fuzz-tools

fuzz: fuzz-tools
	$(CMAKE) -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) -DTAVREL_FUZZ=ON
	$(CMAKE) --build $(FUZZ_BUILD) -j $(JOBS) --target $(addsuffix _fuzz,$(FUZZ_TARGETS))
	@root=$$(cd $(FUZZ_BUILD) && pwd); status=0; summary=""; \
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p $$root/corpus/$$t $$root/artifacts/$$t $$root/logs $$root/tmp; \
	  cp tests/fuzz/corpus/$$t/* $$root/corpus/$$t/; \
	  find tests/fuzz/crashers/$$t -type f ! -name '.*' -exec cp {} $$root/corpus/$$t/ \; ; \
	  echo "== $$t: $(FUZZ_TIME) s"; \
	  TMPDIR=$$root/tmp $$root/tests/fuzz/$${t}_fuzz -max_total_time=$(FUZZ_TIME) \
	    -print_final_stats=1 -artifact_prefix=$$root/artifacts/$$t/ $(FUZZ_OPTS) \
	    $$root/corpus/$$t > $$root/logs/$$t.log 2>&1 || status=1; \
	  execs=$$(sed -n 's/^stat::number_of_executed_units: *//p' $$root/logs/$$t.log); \
	  found=$$(ls $$root/artifacts/$$t | wc -l); \
	  summary="$$summary$$t: $${execs:-?} execs, $$found artifact(s)\n"; \
	done; \
	printf "$$summary"; \
	[ $$status -eq 0 ] || echo "a target stopped early: see $(FUZZ_BUILD)/logs/"; \
	exit $$status

# clang and its libFuzzer runtime, installed when a test link fails.
fuzz-tools:
	@if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' \
	    | $(FUZZ_CXX) -fsanitize=fuzzer -x c++ - -o /dev/null >/dev/null 2>&1; then \
	  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	  $$sudo apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y clang-14 libclang-rt-14-dev; \
	fi

# Line coverage of image/ and cmdline/ by the committed fuzz corpus: the
# replay runners built by clang with coverage mapping, each fed its corpus,
# the profiles merged and reported by llvm-cov.
COV_BUILD ?= build-cov
LLVM_COV  ?= llvm-cov-14
LLVM_PROFDATA ?= llvm-profdata-14
FUZZ_CORPUS ?= tests/fuzz/corpus

.PHONY: fuzz-coverage
fuzz-coverage: fuzz-tools
	$(CMAKE) -S . -B $(COV_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
	  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping"
	$(CMAKE) --build $(COV_BUILD) -j $(JOBS) --target $(addsuffix _replay,$(FUZZ_TARGETS))
	@root=$$(cd $(COV_BUILD) && pwd); rm -f $$root/*.profraw; objects=""; first=""; \
	for t in $(FUZZ_TARGETS); do \
	  LLVM_PROFILE_FILE=$$root/$$t.profraw $$root/tests/fuzz/$${t}_replay $(FUZZ_CORPUS)/$$t \
	    > /dev/null 2>&1 || exit 1; \
	  if [ -z "$$first" ]; then first=$$root/tests/fuzz/$${t}_replay; \
	  else objects="$$objects -object $$root/tests/fuzz/$${t}_replay"; fi; \
	done; \
	$(LLVM_PROFDATA) merge -sparse $$root/*.profraw -o $$root/fuzz.profdata && \
	$(LLVM_COV) report $$first $$objects -instr-profile=$$root/fuzz.profdata \
	  $$(pwd)/image $$(pwd)/cmdline

# The Python module: its quality-curve figure for the README (matplotlib is
# installed when missing) and its benchmark against the library in the same
# process, on garden and ladybird of $(CORPUS).
.PHONY: python-figure bench-python
python-figure: build
	@/usr/bin/python3 -c 'import matplotlib' 2>/dev/null || { \
	  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	  $$sudo apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y python3-matplotlib; }
	PYTHONPATH=$(BUILD)/python /usr/bin/python3 scripts/quality_curve.py

bench-python: build
	/usr/bin/python3 bench/python_bench.py --build $(BUILD) --corpus $(CORPUS) $(BENCH_OPTS)

# The page in the browser (web/): the library compiled to WebAssembly by
# Debian's emscripten, installed here when missing (and only here), into
# $(WEB_BUILD)/site with the page's files beside it. Debian's emscripten finds
# its JavaScript parser through NODE_PATH when node is not Debian's own.
WEB_BUILD ?= $(BUILD)/web
WEB_PORT  ?= 8023
WEB_ENV   := NODE_PATH=/usr/share/nodejs
.PHONY: web web-tools web-node serve web-screenshot web-bench

web: web-tools
	$(WEB_ENV) emcmake $(CMAKE) -S web -B $(WEB_BUILD) -DCMAKE_BUILD_TYPE=Release
	$(WEB_ENV) $(CMAKE) --build $(WEB_BUILD) -j $(JOBS)
	@ls -l $(WEB_BUILD)/site

web-tools:
	@if ! command -v emcc >/dev/null 2>&1; then \
	  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	  $$sudo apt-get update && DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y emscripten; \
	fi

# puppeteer-core for the screenshot and the bench, at the versions locked in
# web/package-lock.json; it drives Debian's chromium and downloads no browser.
web-node:
	@command -v chromium >/dev/null 2>&1 || { echo "chromium is missing: apt-get install chromium"; exit 1; }
	@[ -d web/node_modules/puppeteer-core ] || npm ci --prefix web --no-audit --no-fund

serve: web
	PORT=$(WEB_PORT) node web/tools/serve.mjs $(WEB_BUILD)/site

web-screenshot: web web-node build
	node --no-experimental-fetch web/tools/screenshot.mjs $(WEB_BUILD)/site $(SAMPLE) docs/web.png

# Speed of the page on a photo (default: the garden of the corpus) against
# the command line's -C0 on the same file, and the page's download size.
WEB_PHOTO ?= $(CORPUS)/garden-1024x768.ppm
web-bench: web web-node build
	node --no-experimental-fetch web/tools/bench.mjs $(WEB_BUILD)/site $(BUILD)/tavrel $(WEB_PHOTO)
