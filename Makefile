# The two commands of the README. Both install what is missing first.
.PHONY: run test build release clean

run:
	@bash scripts/run.sh

test:
	@bash scripts/test.sh

build:
	@bash scripts/bootstrap.sh && bash scripts/build.sh

# out/release: both programs, SHA256SUMS and the administrator's guide, and the same as one zip.
release:
	@bash scripts/bootstrap.sh && bash scripts/build.sh windows && python3 scripts/release.py

clean:
	rm -rf build dist out
