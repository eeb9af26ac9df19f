# build: the launchers (x64 and x86), the packer and the runtime library into build/dist/
# demo:  packs the sample application and starts it under Wine
# test:  host unit tests, Maven tests and the Wine integration tests
SHELL := /bin/bash
DIST := build/dist
MVN := mvn -q -B -f java/pom.xml

.PHONY: all setup build native java demo test unit-test java-test wine-test clean

all: build

setup:
	bash scripts/setup.sh

build: setup native java

native:
	cmake --preset win64 >/dev/null && cmake --build --preset win64
	cmake --preset win32 >/dev/null && cmake --build --preset win32
	mkdir -p $(DIST)/win64 $(DIST)/win32 $(DIST)/win64/test-tools
	cp build/win64/launcher/app-launcher.exe build/win64/launcher/setup-launcher.exe \
	   build/win64/launcher/service-launcher.exe $(DIST)/win64/
	cp build/win32/launcher/setup-launcher.exe $(DIST)/win32/
	cp build/win64/tests/tools/*.exe $(DIST)/win64/test-tools/

java:
	$(MVN) -DskipTests package
	cp java/packer/target/packer.jar java/runtime/target/runtime.jar $(DIST)/

demo: build
	bash scripts/demo.sh

unit-test: setup
	cmake --preset host >/dev/null && cmake --build --preset host
	ctest --preset host

java-test: setup
	$(MVN) test

wine-test: build
	python3 -m pytest -q tests

test: build unit-test java-test wine-test

clean:
	rm -rf build
	$(MVN) clean
