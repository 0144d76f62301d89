# The two commands of the README:
#   make run   set up, build and start Voxmira on the bundled sample data
#   make test  set up, build and run every test (the GUI test under Xvfb)
BUILD ?= build
JOBS ?= $(shell nproc)
# The bundled sample the run command opens: the CT series when present.
SAMPLE ?= $(firstword $(wildcard data/samples/ct_phantom/*.dcm) $(wildcard data/samples/*.png))

.PHONY: deps build run test bench asan tsan clean

deps:
	./scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -n "$$DISPLAY" ]; then \
	  $(BUILD)/voxmira $(SAMPLE); \
	else \
	  echo "No DISPLAY: starting Voxmira under Xvfb (close it with Ctrl-C)"; \
	  xvfb-run -a -s "-screen 0 1920x1200x24" $(BUILD)/voxmira $(SAMPLE); \
	fi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DVOXMIRA_BENCH=ON
	cmake --build $(BUILD)-bench -j $(JOBS)

asan: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOXMIRA_SANITIZE=ON
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ctest --output-on-failure -j $(JOBS)

# ThreadSanitizer over the tests that run row bands on helper threads: the filters, the
# rest of processing/ and the CT routines. The unit tests only (the GUI libraries are not
# instrumented). The sanitizer's allocator aborts on a refused allocation, so the test of a
# refused one is left out.
TSAN_FILTER ?= *Filter*:Pipeline*:Bitonic*:*Rank*:Smoothing*:Gaussian*:Noise*:Multires*:Colour*:AlongField*:Fft*:Metal*:Rsq*:*Recon*:Ssim*:DisplayImage*-Pipeline.RefusedForMemory*
tsan: deps
	cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOXMIRA_TSAN=ON
	cmake --build $(BUILD)-tsan -j $(JOBS) --target voxmira_tests
	TSAN_OPTIONS="second_deadlock_stack=1" \
	  $(BUILD)-tsan/tests/voxmira_tests --gtest_filter='$(TSAN_FILTER)'

clean:
	rm -rf $(BUILD) $(BUILD)-bench $(BUILD)-asan $(BUILD)-tsan
