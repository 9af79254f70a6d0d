# make run   - install what is missing, build, start Corvane
# make test  - install what is missing, build, run every test headless
# make bench - install what is missing, build (optimised), run the benchmarks
SHELL := /bin/bash
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

# Debian 12 packages the build, the tests and the benchmarks need (xvfb runs
# the tests that look at a window as an X server draws it; libssl-dev brings
# libcrypto's headers, with which users' TLS identities are made).
PACKAGES := cmake make g++ qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite \
            libgl-dev libssl-dev fonts-liberation xvfb xauth
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -q && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/corvane

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	cmake --build $(BUILD_DIR) --target benchmarks -j $(JOBS)
	QT_QPA_PLATFORM=offscreen ./bench/run-all $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
