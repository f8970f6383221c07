# The two entry commands. Both set up a fresh Debian 12 machine first.
#   make test   build everything and run every test under Wine
#   make demo   a real end-to-end install from a local kit server, printed step by step
.PHONY: all setup build test demo clean

all: build

setup:
	scripts/setup.sh

build: setup
	scripts/build.sh

test:
	scripts/run-tests.sh

demo: build
	scripts/demo.sh

clean:
	scripts/stop-wine.sh
	rm -rf build/CMakeFiles build/CMakeCache.txt build/dist build/tests build/src build/googletest
