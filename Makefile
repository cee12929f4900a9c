# The project's commands; see README.md.
#   make test    install what is missing, build, run every test
#   make build   the three builds: native, win64, win32 (no Wine needed)
#   make deps    check the packages of every target, install the missing ones (as root)
#   make check-32bit  (root) the 32-bit suite without wine32, on a kernel without 32-bit
#                and with apt refusing wine32; make dist without Wine
#   make bench   the measurements (bench/*.py), printed as numbers
#   make demo    one data block from the simulated device to the host, shown step by step
#   make soak    the receiver's fidelity over N blocks (default 2000): make soak N=10000
#   make fuzz    every fuzz target for SECONDS each (default 60): make fuzz SECONDS=600
#                [TARGET=port_name_fuzz]
#   make format  clang-format the sources
#   make dist    the release archives of the current tree, in dist/, checked before it
#                says it is done (see docs/releases.md)

PRESETS := native win64 win32
SOURCES = $(shell git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.c')

# Runs a command and prints how long it took: $(call timed,NAME,COMMAND)
timed = @start=$$(date +%s); $(2); status=$$?; \
	echo "== $(1): $$(( $$(date +%s) - start )) s"; exit $$status

.PHONY: deps build test skipped check-32bit bench demo soak fuzz format check-format clean dist

# Each target asks tools/deps for the packages it uses, no more.
deps:
	$(call timed,deps,tools/deps test)

build:
	@tools/deps build
	$(call timed,build,for p in $(PRESETS); do \
		cmake --preset $$p >build-$$p.log 2>&1 || { cat build-$$p.log; exit 1; }; \
		rm -f build-$$p.log; cmake --build --preset $$p || exit 1; done)

test: deps build check-format
	$(call timed,test native,ctest --preset native --parallel 2)
	$(call timed,test win64,ctest --preset win64 --parallel 2)
	$(call timed,test win32,ctest --preset win32 --parallel 2)
	@$(MAKE) -s skipped

# One line naming the tests that ctest skipped in its last run of each build,
# and why (ctest's own summary names them without the reason).
skipped:
	@awk '/^[0-9]+\/[0-9]+ Test: / { name = $$3; why = "(no reason given)" } \
	/^skipped: / { why = substr($$0, 10) } \
	/^Skip regular expression found/ { n[why]++; names[why] = names[why] " " name } \
	END { for (why in n) { print "== skipped " n[why] " tests:" names[why] ": " why; any = 1 } \
	      if (!any) print "== skipped: none" }' \
	/dev/null $(wildcard $(foreach p,$(PRESETS),build/$(p)/Testing/Temporary/LastTest.log))

# As root: the win32 suite fails without Wine's 32-bit side, and is skipped
# where the kernel runs no 32-bit programs or apt refuses wine32; make dist
# needs no Wine (each shown in a mount namespace).
check-32bit: build
	$(call timed,check-32bit,tools/wine/check-32bit)

# Each bench/*.py measures against the win64 build, in a prefix of its own.
bench: build
	@tools/deps wine64
	$(call timed,bench,for b in bench/*.py; do [ -e "$$b" ] || continue; \
		echo "-- $$b"; python3 $$b build/win64 || exit 1; done)

# The demo needs the win64 build only; it makes and removes its own prefix.
demo:
	@tools/deps wine64
	$(call timed,demo,{ cmake --preset win64 >build-win64.log 2>&1 || { cat build-win64.log; exit 1; }; } \
		&& rm -f build-win64.log && cmake --build --preset win64 --target Ostrel Vetrolink hoststandin Wendra spreadsheet \
		&& python3 tools/host/demo.py build/win64)

N ?= 2000
soak: build
	@tools/deps wine64
	$(call timed,soak,python3 bench/receiver.py build/win64 --fidelity-only --blocks $(N))

format:
	clang-format -i $(SOURCES)

check-format:
	$(call timed,format check,clang-format --dry-run --Werror $(SOURCES))

# Every fuzz target for SECONDS each, or one: make fuzz TARGET=port_name_fuzz.
# New inputs go to the build's corpora; the committed seeds stay as they are.
SECONDS ?= 60
FUZZ_BUILD ?= build/native
fuzz:
	@tools/deps build
	cmake --preset native -B $(FUZZ_BUILD) >build-fuzz.log 2>&1 || { cat build-fuzz.log; exit 1; }
	rm -f build-fuzz.log
	cmake --build $(FUZZ_BUILD) --target fuzz_targets
	VL_FUZZ_SECONDS=$(SECONDS) ctest --test-dir $(FUZZ_BUILD) -L fuzz --no-tests=error --verbose \
		$(if $(TARGET),-R '^native:$(TARGET)$$') --timeout $$(( $(SECONDS) + 600 ))

clean:
	rm -rf build

# The deliverables without the tests, in build types and flags as the test
# builds have them (the same_bytes test holds the two to the same bytes).
DIST_PRESETS := win32 win64
dist:
	@tools/deps dist
	$(call timed,dist,for p in $(DIST_PRESETS); do \
		cmake --preset $$p -B build/dist-$$p -DVL_TESTS=OFF >build-dist-$$p.log 2>&1 \
			|| { cat build-dist-$$p.log; exit 1; }; \
		rm -f build-dist-$$p.log; cmake --build build/dist-$$p || exit 1; done \
		&& python3 release/package.py dist $(foreach p,$(DIST_PRESETS),$(p)=build/dist-$(p)))
