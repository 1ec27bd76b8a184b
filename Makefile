# make demo: a tour of the provider on the default emulated store.
# make test: everything installed, built and tested, on a fresh Debian 12 machine too.
# make build: the four artifacts alone (build/native, build/windows-x86, build/windows-x64, build/java).

PRESETS := native windows-x86 windows-x64
CHECK_PRESETS := asan fuzz
JAVA ?= java

.PHONY: all deps build test demo bench fuzz check-deep clean $(addprefix build-,$(PRESETS) $(CHECK_PRESETS))

all: build

deps:
	@scripts/install-deps.sh

build: deps $(addprefix build-,$(PRESETS))

$(addprefix build-,$(PRESETS) $(CHECK_PRESETS)): build-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $*

# The sanitizer and fuzz trees are built and run by `make test` too, after the native tests.
test: build build-asan build-fuzz
	ctest --preset native
	ctest --preset asan
	ctest --preset fuzz
	$(run-check-deep)

# The JUnit suite in a JVM that loads build/asan's sanitized module (that tree's java.junit sets
# the runtime up), then the conformance host under valgrind over the native tree's module.
# About a minute, so `make test` runs it too.
VALGRIND := valgrind --leak-check=full --error-exitcode=1 --child-silent-after-fork=yes -q
define run-check-deep
ctest --preset asan-jvm
$(VALGRIND) build/native/tests/jnihost/conformance_host build/native/libBrisvander.so tests/fixtures
endef

check-deep: build-native build-asan
	$(run-check-deep)

# Every fuzz target for FUZZ_SECONDS seconds each, over a corpus of its own kept between runs in
# build/fuzz/fuzzing/<target>/corpus (started from the tree's seeds and regression inputs, which
# stay untouched); crash, leak and timeout inputs land in build/fuzz/fuzzing/<target>.
FUZZ_SECONDS ?= 300
fuzz: build-fuzz
	bash tests/fuzz/run_fuzz.sh all $(FUZZ_SECONDS) build/fuzz/fuzz-targets.txt build/fuzz/fuzzing

# The demo runs on an emulated store of its own, made afresh each time and removed after.
demo: build
	rm -rf build/demo-store
	BRISVANDER_HOME=$(CURDIR)/build/demo-store $(JAVA) -Dbrisvander.library=build/native/libBrisvander.so \
		-cp build/java/brisvander.jar:build/java/brisvander-demo.jar \
		quorvant.jce.provider.ms.demo.Demo
	rm -rf build/demo-store

# Every benchmark, in about six minutes: build/bench/report.md, summary.txt, raw CSV and plots.
# Keys and stores are made once, under build/bench, and kept between runs.
bench: build-native
	cmake --build --preset native --target bench_all
	benchmarks/run_bench.sh

clean:
	rm -rf build
