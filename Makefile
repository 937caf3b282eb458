# The two commands of the README. Both install what is missing first.
.PHONY: run test build release clean

run:
	@bash scripts/run.sh

test:
	@bash scripts/test.sh

build:
	@bash scripts/bootstrap.sh build && bash scripts/build.sh

# out/release: both programs, SHA256SUMS and the administrator's guide, and the same as one zip;
# BUILDINFO beside them. SIGN_PKCS12=... SIGN_PASSWORD_FILE=... (or SIGN_CERTS=... SIGN_KEY=...,
# SIGN_TIMESTAMP_URL=...) sign both programs first: see release/sign.py.
release:
	@bash scripts/bootstrap.sh release && bash scripts/build.sh windows && python3 release/make_release.py

clean:
	rm -rf build dist out
