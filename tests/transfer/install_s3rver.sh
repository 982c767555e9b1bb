#!/usr/bin/env bash
# Installs the S3-compatible test server s3rver into the given prefix, once.
set -euo pipefail
prefix=$1
version=3.7.1
if [[ -f "$prefix/node_modules/s3rver/package.json" ]] &&
  grep -q "\"version\": \"$version\"" "$prefix/node_modules/s3rver/package.json"; then
  exit 0
fi
mkdir -p "$prefix"
npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error "s3rver@$version"
