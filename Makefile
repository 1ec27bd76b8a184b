# make demo: a tour of the provider on the default emulated store.
# make test: everything installed, built and tested, on a fresh Debian 12 machine too.
# make build: the four artifacts alone (build/native, build/windows-x86, build/windows-x64, build/java).

PRESETS := native windows-x86 windows-x64
JAVA ?= java

.PHONY: all deps build test demo bench clean $(addprefix build-,$(PRESETS))

all: build

deps:
	@scripts/install-deps.sh

build: deps $(addprefix build-,$(PRESETS))

$(addprefix build-,$(PRESETS)): build-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $*

test: build
	ctest --preset native

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
