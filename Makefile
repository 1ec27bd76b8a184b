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

# Benchmarks; results under build/bench.
bench: build-native
	cmake --build --preset native --target store_walk_bench
	mkdir -p build/bench
	build/native/benchmarks/store_walk_bench --benchmark_out=build/bench/store_walk.json \
		--benchmark_out_format=json

clean:
	rm -rf build
