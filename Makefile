# The project's commands; see README.md.
#   make test    install what is missing, build, run every test
#   make build   the three builds: native, win64, win32
#   make deps    check the packages, install the missing ones (as root)
#   make format  clang-format the sources

PRESETS := native win64 win32
SOURCES = $(shell git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.c')

# Prints how long a phase took: $(call timed,NAME,COMMAND)
timed = @start=$$(date +%s); $(2); status=$$?; \
	echo "== $(1): $$(( $$(date +%s) - start )) s"; exit $$status

.PHONY: deps build test format check-format clean

deps:
	$(call timed,deps,tools/deps)

build:
	$(call timed,build,for p in $(PRESETS); do \
		cmake --preset $$p >build-$$p.log 2>&1 || { cat build-$$p.log; exit 1; }; \
		rm -f build-$$p.log; cmake --build --preset $$p || exit 1; done)

test: deps build check-format
	$(call timed,test native,ctest --preset native --parallel 2)
	$(call timed,test win64,ctest --preset win64 --parallel 2)
	$(call timed,test win32,ctest --preset win32 --parallel 2)

format:
	clang-format -i $(SOURCES)

check-format:
	$(call timed,format check,clang-format --dry-run --Werror $(SOURCES))

clean:
	rm -rf build
