# make run         - install what is missing, build, start Corvane
# make test        - install what is missing, build, check, run every test headless
# make check       - the format of every tracked C++ file, and layers that point down
# make tidy        - clang-tidy over Corvane's own code (src/, tests/corvane)
# make translations - bring translations/*.ts up to date after a change of the texts
# make test-repeat - the same, the whole suite 20 times, stopping at the first failure
# make bench       - install what is missing, build (optimised), run the benchmarks
# make install     - build, then install under PREFIX (default /usr/local; DESTDIR= stages)
# make uninstall   - remove what `make install` put there
# make package     - build the Debian package corvane_<version>_<arch>.deb
SHELL := /bin/bash
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
PACKAGE_DIR ?= build-deb

# Debian 12 packages the build, the tests and the benchmarks need (xvfb runs
# the tests that look at a window as an X server draws it; the validators,
# man and xvfb check what an installation puts in place; Qt's private headers
# let a test listen to the windows as assistive technology does; libssl-dev
# brings libcrypto's headers, with which users' TLS identities are made;
# libsqlite3-dev the headers through which the settings store and the class
# store talk to SQLite; iproute2 gives a test the network namespace in which
# a flood comes from many IPv6 addresses; dbus-daemon a session bus on which
# a test plays the desktop's notification service; qt6-l10n-tools and
# qt6-tools-dev bring lupdate, lrelease and their CMake functions, which turn
# the translations into .qm files; qt6-translations-l10n Qt's own
# translations of standard buttons and the file dialog;
# clang-format and clang-tidy check the code).
PACKAGES := cmake make g++ pkgconf qt6-base-dev qt6-base-dev-tools \
            qt6-base-private-dev libgl-dev libssl-dev libsqlite3-dev libsystemd-dev scdoc \
            qt6-l10n-tools qt6-tools-dev qt6-translations-l10n \
            fonts-liberation xvfb xauth desktop-file-utils appstream man-db iproute2 dbus-daemon \
            clang-format \
            clang-tidy
# And what building the Debian package needs besides.
PACKAGE_TOOLS := dpkg-dev file
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build run check tidy translations test test-repeat bench install \
        uninstall package clean

all: build

# Installs the Debian packages named in $(1) that are missing.
define install-missing
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -q && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install-missing,$(PACKAGES))

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/corvane

test: build check
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Formatting as .clang-format has it; no layer includes one above it (see
# CONTRIBUTING.md), the automation layer knows nothing of Corvane, and only
# the creation module includes the automation client.
check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
	@layers=$$(grep -rnE '#include "(settings|registration|ui)/' src/app; \
	  grep -rnE '#include "(registration|ui)/' src/settings; \
	  grep -rn '#include "ui/' src/registration; \
	  grep -rnE '#include "ui/(main|machines|wizard|properties|test)/' src/ui/common; \
	  grep -rnE '#include "(app|settings|registration|ui)/' automation; \
	  grep -rnE '#include "(settings|ui)/' src/creation; \
	  grep -rnE '#include <automation/(broker|identity|objectfactory|pairing|serverkit|trust|wire)\.h>' src \
	    --exclude-dir=creation); \
	if [ -n "$$layers" ]; then echo "Includes that point up:"; echo "$$layers"; exit 1; fi

tidy: build
	git ls-files 'src/*.cpp' 'tests/corvane/*.cpp' | \
	  xargs -P $(JOBS) -n 1 clang-tidy -p $(BUILD_DIR) --quiet

# New and changed texts of the sources into every .ts file, gone ones out;
# the translations of unchanged texts stay.
translations: configure
	cmake --build $(BUILD_DIR) --target update_translations

# A test that fails only now and then shows here.
test-repeat: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --repeat until-fail:20 -j2

bench: build
	cmake --build $(BUILD_DIR) --target benchmarks -j $(JOBS)
	QT_QPA_PLATFORM=offscreen ./bench/run-all $(BUILD_DIR)

# sudo only when the target cannot be written as the user who builds.
install: build
	@target="$(DESTDIR)$(PREFIX)"; \
	while [ ! -e "$$target" ]; do target=$$(dirname "$$target"); done; \
	if [ -w "$$target" ]; then as=""; else as="$(SUDO)"; fi; \
	$$as env DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR)

# The files of the last `make install` (its manifest) and the folders of
# Corvane's own among them.
uninstall:
	@manifest=$(BUILD_DIR)/install_manifest.txt; \
	test -f $$manifest || { echo "Nothing installed from $(BUILD_DIR)"; exit 1; }; \
	if [ -w "$$(dirname "$(DESTDIR)$$(head -n1 $$manifest)")" ]; then as=""; else as="$(SUDO)"; fi; \
	sed 's|^|$(DESTDIR)|' $$manifest | xargs -d '\n' $$as rm -fv; \
	sed 's|^|$(DESTDIR)|' $$manifest | xargs -d '\n' -n1 dirname | grep '/corvane$$' | sort -u | \
	  xargs -r -d '\n' $$as rmdir --ignore-fail-on-non-empty

# A build of its own for /usr, with Debian's hardening flags and without the
# tests; dpkg-shlibdeps finds the library dependencies.
package:
	$(call install-missing,$(PACKAGES) $(PACKAGE_TOOLS))
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	CPPFLAGS="$$(dpkg-buildflags --get CPPFLAGS)" \
	CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	      -DCORVANE_BUILD_TESTS=OFF
	cmake --build $(PACKAGE_DIR) -j $(JOBS)
	cd $(PACKAGE_DIR) && cpack -G DEB
	cp $(PACKAGE_DIR)/corvane_*.deb .
	@ls corvane_*.deb

clean:
	rm -rf $(BUILD_DIR) $(PACKAGE_DIR)
