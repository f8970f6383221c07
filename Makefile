# The two entry commands. Both set up a fresh Debian 12 machine first.
#   make test   build both flavours (i686, x64) and run every test under Wine, in each flavour
#               this machine can run (FLAVOURS="x64" make test chooses by hand)
#   make demo   a real end-to-end install from a local kit server, printed step by step
.PHONY: all setup build test demo clean

all: build

setup:
	scripts/setup.sh

build: setup
	scripts/build.sh

test:
	scripts/run-tests.sh

demo:
	scripts/demo.sh

clean:
	scripts/stop-wine.sh
	# The build trees go (release trees too); each flavour's Wine prefix and test PKI stay.
	rm -rf build/i686-release build/x64-release
	for tree in build/i686 build/x64; do \
	  [ -d $$tree ] && find $$tree -mindepth 1 -maxdepth 1 ! -name wineprefix ! -name pki -exec rm -rf {} +; \
	done; true
