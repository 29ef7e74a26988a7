# Entry points: `make run` (the program's main job), `make test`, `make bench`.
JOBS      ?= $(shell nproc)
BUILD     ?= build
ASAN      ?= build-asan
BENCHDIR  ?= build-bench
PACKAGEDIR ?= build-package
COVERAGE  ?= build-coverage
CMAKE_GEN := -G Ninja

.PHONY: all bootstrap build run test test-unit test-asan coverage fuzz fuzz-smoke bench package clean

all: build

bootstrap:
	@bash scripts/bootstrap

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# With a display: the dictation program in the foreground. Without one: the main job end to end in
# a private virtual desktop (scripts/demo). Only the program and the status tool are built for it.
run: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target quorvel quorvel-status
	./$(BUILD)/src/tools/quorvel-status
	@echo
	@bash scripts/demo $(BUILD)/bin/quorvel

test-unit: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(ASAN)/build.ninja:
	cmake -S . -B $(ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON

# The core and service tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: bootstrap $(ASAN)/build.ninja
	cmake --build $(ASAN) -j $(JOBS) --target quorvel_core_tests quorvel_services_tests
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure --no-tests=error -j $(JOBS) -R "^(core|services)/"

# Line coverage of src/ by the whole suite, per layer, and an HTML report in
# $(COVERAGE)/coverage/index.html. Needs gcovr (apt-get install gcovr), which the script checks.
coverage: bootstrap
	BUILD=$(COVERAGE) JOBS=$(JOBS) bash scripts/coverage

# libFuzzer targets (clang, ASan + UBSan): `fuzz` for a real session, `fuzz-smoke` in `test`.
fuzz: bootstrap
	bash scripts/fuzz --seconds 600

fuzz-smoke: bootstrap
	bash scripts/fuzz --seconds 20

test: test-unit test-asan fuzz-smoke

$(BENCHDIR)/build.ninja:
	cmake -S . -B $(BENCHDIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=ON

bench: bootstrap $(BENCHDIR)/build.ninja
	cmake --build $(BENCHDIR) -j $(JOBS)
	./$(BENCHDIR)/bench/quorvel_core_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
		--benchmark_display_aggregates_only=true
	./$(BENCHDIR)/bench/quorvel_services_bench --benchmark_repetitions=3 --benchmark_display_aggregates_only=true
	if [ -x $(BENCHDIR)/bench/quorvel_platform_bench ]; then \
		tests/desktop/with-desktop ./$(BENCHDIR)/bench/quorvel_platform_bench; fi
	tests/desktop/with-desktop ./$(BENCHDIR)/bench/quorvel_ui_bench
	tests/desktop/with-desktop ./$(BENCHDIR)/bench/quorvel_app_bench

$(PACKAGEDIR)/build.ninja:
	cmake -S . -B $(PACKAGEDIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF

# The Debian package (tovik_<version>_<arch>.deb): a Release build of the program alone.
package: bootstrap $(PACKAGEDIR)/build.ninja
	cmake --build $(PACKAGEDIR) -j $(JOBS) --target package
	@echo "package: $$(ls $(CURDIR)/$(PACKAGEDIR)/tovik_*.deb)"

clean:
	rm -rf $(BUILD) $(ASAN) $(BENCHDIR) $(PACKAGEDIR) $(COVERAGE) build-fuzz
