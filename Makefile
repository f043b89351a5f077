# Thin wrapper around the CMake build in build/.
#
#   make                      optimized with debug information (RelWithDebInfo) and
#                             hardened, in build/; demo, check, install and deb use it
#   make debug                unoptimized, for development, in build/debug
#   make BUILD_TYPE=Debug     build/ itself as a debug build
#   make CXXFLAGS=... LDFLAGS=... CPPFLAGS=...
#                             your own flags instead of the hardening defaults below
#
# All sources are C++ (the ecpg output included), so CFLAGS has nothing to
# compile. CMake reads flags from the environment only on a build directory's
# first configure; here the type and flags are handed to it on every
# configure, and a build directory is configured again whenever they change.

BUILD_DIR := build
DEBUG_DIR := $(BUILD_DIR)/debug
BUILD_TYPE ?= RelWithDebInfo
# make check sets it to ON: warnings stop that build. Left empty, a
# configure keeps what the build directory has (OFF in a fresh one), so a
# user's build never turns warnings into errors by itself.
WERROR ?=

# cmake --build runs make again underneath; one set of directory messages is enough.
MAKEFLAGS += --no-print-directory

# Hardening: what Debian's own packages get (stack protector, _FORTIFY_SOURCE,
# format checks, full RELRO and BIND_NOW; the compiler builds PIE by
# default), less dpkg-buildflags' -g -O2, which the build type gives, and its
# path rewriting, which would keep a debugger from finding the sources.
# _FORTIFY_SOURCE needs optimization, so an unoptimized build goes without it.
# A flags variable you set replaces its default here; the others stay.
HARDENING = $(if $(filter Debug,$(1)),hardening=+all$(comma)-fortify,hardening=+all) \
            reproducible=-fixfilepath$(comma)-fixdebugpath
comma := ,
buildflag = $(if $(filter undefined default,$(origin $(2))),\
	$$(DEB_BUILD_MAINT_OPTIONS='$(call HARDENING,$(1))' DEB_$(2)_MAINT_STRIP='-g -O2' dpkg-buildflags --get $(2)),\
	$($(2)))

# $(call configure_and_build,DIR,TYPE,CXXFLAGS,LDFLAGS[,ON|OFF for warnings as errors]):
# configures DIR when it has no build files, when type or flags differ from
# those of its last configure (kept in DIR/configure-args), or when told to
# set warnings as errors other than its cache has them; then builds.
define configure_and_build
	@set -e; \
	cxxflags="$(strip $(3))"; ldflags="$(strip $(4))"; \
	args="-DCMAKE_BUILD_TYPE=$(2) -DCMAKE_CXX_FLAGS=$$cxxflags -DCMAKE_EXE_LINKER_FLAGS=$$ldflags"; \
	werror=$$(sed -n 's/^PARAM_CONFIG_WERROR:BOOL=//p' $(1)/CMakeCache.txt 2>/dev/null || true); \
	if { [ ! -f $(1)/Makefile ] && [ ! -f $(1)/build.ninja ]; } || \
	   [ "$$args" != "$$(cat $(1)/configure-args 2>/dev/null)" ] || \
	   { [ -n "$(5)" ] && [ "$(5)" != "$$werror" ]; }; then \
		rm -f $(1)/configure-args; \
		echo "cmake -S . -B $(1) $$args $(if $(5),-DPARAM_CONFIG_WERROR=$(5))"; \
		cmake -S . -B $(1) -DCMAKE_BUILD_TYPE=$(2) -DCMAKE_CXX_FLAGS="$$cxxflags" \
			-DCMAKE_EXE_LINKER_FLAGS="$$ldflags" $(if $(5),-DPARAM_CONFIG_WERROR=$(5)); \
		printf '%s\n' "$$args" >$(1)/configure-args; \
	fi
	cmake --build $(1) -j2
endef

release_cxxflags = $(call buildflag,$(BUILD_TYPE),CPPFLAGS) $(call buildflag,$(BUILD_TYPE),CXXFLAGS)
release_ldflags = $(call buildflag,$(BUILD_TYPE),LDFLAGS)

.PHONY: all debug demo check clean

all:
	bash scripts/install-deps.sh
	$(call configure_and_build,$(BUILD_DIR),$(BUILD_TYPE),$(release_cxxflags),$(release_ldflags),$(WERROR))

debug:
	bash scripts/install-deps.sh
	$(call configure_and_build,$(DEBUG_DIR),Debug,\
		$(call buildflag,Debug,CPPFLAGS) $(call buildflag,Debug,CXXFLAGS),$(call buildflag,Debug,LDFLAGS),$(WERROR))

demo: all
	bash scripts/demo.sh

# A primary and a synchronous standby; the tool keeps a change across the
# standby's takeover (needs what make demo needs).
.PHONY: standby-demo
standby-demo: all
	bash scripts/standby-demo.sh

# The suite, and CI through it, builds with warnings as errors.
check: WERROR := ON
check: all deb
	bash manager/tests/check.sh

clean:
	rm -rf $(BUILD_DIR)

# Installation: make install [PREFIX=/usr/local] [DESTDIR=/staging/root].
# CMake's install manifest lists the installed files without DESTDIR; the
# full paths are kept in $(BUILD_DIR)/installed-files.txt, and the
# directories the install is about to create in $(BUILD_DIR)/installed-dirs.txt
# (found by a trial install into a scratch root first). make uninstall
# removes exactly those files, then those directories where left empty.
PREFIX = /usr/local
DESTDIR =
INSTALL_ROOT = $(if $(DESTDIR),$(abspath $(DESTDIR)))

.PHONY: install uninstall

install: all
	@set -e; scratch=$$(mktemp -d); trap 'rm -rf "$$scratch"' EXIT; \
	DESTDIR="$$scratch" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)" >/dev/null; \
	{ cat $(BUILD_DIR)/installed-dirs.txt 2>/dev/null || true; \
	  while IFS= read -r file || [ -n "$$file" ]; do \
		dir=$${file%/*}; \
		while [ -n "$$dir" ]; do \
			[ -d "$(INSTALL_ROOT)$$dir" ] || echo "$(INSTALL_ROOT)$$dir"; \
			dir=$${dir%/*}; \
		done; \
	  done <$(BUILD_DIR)/install_manifest.txt; \
	  root="$(INSTALL_ROOT)"; [ -z "$$root" ] || [ -d "$$root" ] || echo "$$root"; \
	} | sort -u >$(BUILD_DIR)/installed-dirs.txt.new
	mv $(BUILD_DIR)/installed-dirs.txt.new $(BUILD_DIR)/installed-dirs.txt
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"
	awk -v root="$(INSTALL_ROOT)" '{ print root $$0 }' \
		$(BUILD_DIR)/install_manifest.txt >$(BUILD_DIR)/installed-files.txt

uninstall:
	bash scripts/uninstall.sh $(BUILD_DIR)/installed-files.txt $(BUILD_DIR)/installed-dirs.txt

# The Debian packages (debhelper): the console's,
# build/deb/param-config_VERSION_ARCH.deb, and the database server's,
# build/deb/param-config-admin_VERSION_all.deb.
# The maintainer comes from DEBFULLNAME and DEBEMAIL, as with Debian's own tools.
.PHONY: deb

deb: all
	cmake --build $(BUILD_DIR) --target deb

# ------------------------------------------------------------ proof under stress
# Each runs on its own test bed (Xvfb, twm, a private cluster, the scratch
# graph directory), like check.

.PHONY: memcheck sanitize fuzz bench mutants

# The test suite under valgrind memcheck (a few minutes), on the build that
# ships: its debug information gives valgrind the source lines.
memcheck: all
	bash manager/tests/memcheck.sh

# The test suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
# unoptimized and without the hardening flags, into build/sanitize.
SANITIZE_DIR := $(BUILD_DIR)/sanitize
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
sanitize: all
	$(call configure_and_build,$(SANITIZE_DIR),Debug,$(SANITIZE_FLAGS),)
	bash manager/tests/sanitize.sh

# The faults listed in manager/tests/faults.txt, planted one at a time in a
# scratch copy, each run against the suite on a fresh bed: every one the
# suite does not notice is printed for a look (about 14 minutes on 2 cores).
mutants:
	bash scripts/install-deps.sh
	bash manager/tests/mutants.sh

# libFuzzer on the graph definition rewrite, about a minute (FUZZ_SECONDS).
fuzz:
	bash manager/tests/fuzz.sh

# Figures beside their floors, measured in one run (about two minutes).
bench: all
	cmake --build $(BUILD_DIR) -j2 --target param_config_bench
	bash scripts/bench.sh
