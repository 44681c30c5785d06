# The two commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build run test asan tsan fuzz bench e2e clean format format-check tidy

deps:
	@scripts/deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	@cmake --build $(BUILD) -j $(JOBS)
	@scripts/grant-probe.sh $(BUILD)

run: build
	@scripts/run.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The same tests built with AddressSanitizer + UndefinedBehaviorSanitizer.
asan: deps
	@$(MAKE) --no-print-directory test BUILD=build-asan \
	  CMAKE_FLAGS="-DOMBRIX_SANITIZE='address;undefined' -DOMBRIX_BENCH=OFF"

# The UI-free core's tests built with ThreadSanitizer (Qt itself is not built for it).
tsan: deps
	@$(MAKE) --no-print-directory test BUILD=build-tsan \
	  CMAKE_FLAGS="-DOMBRIX_SANITIZE=thread -DOMBRIX_GUI=OFF -DOMBRIX_BENCH=OFF"

# Each fuzzer runs briefly over its corpus (FUZZ_SECONDS each).
FUZZ_SECONDS ?= 20
fuzz:
	@scripts/deps.sh --fuzz
	@scripts/fuzz.sh $(FUZZ_SECONDS)

bench: build
	@for b in $(BUILD)/bin/bench_*; do $$b; done

e2e: build
	@cd $(BUILD) && ctest --output-on-failure -L e2e

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

# What CI asks of every change: the tree as clang-format leaves it.
format-check:
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# clang-tidy over the project's own sources (.clang-tidy), with the build's compile commands.
tidy: build
	@scripts/tidy.sh $(BUILD)

clean:
	@rm -rf build build-asan build-tsan build-fuzz
