#!/usr/bin/env node
// An S3-compatible store for the upload tests: s3rver on 127.0.0.1 behind a
// front that checks AWS Signature Version 4 (s3rver itself accepts any V4
// signature), records every request, and answers what s3rver lacks.
//
//   node s3_server.js <s3rver prefix> <data folder> <request log> [<certificate> <key>]
//
// Prints "PORT <n>" once listening, over TLS with the certificate and key
// (PEM) when given; ends when its standard input closes.
// The bucket "bucket" exists from the start. The store's only key pair is
// "S3RVER" / "S3RVER". Faults by key, to exercise the uploader:
//   "inject-part-failure"     part 2 always fails with 500
//   "request-timeout-once"    the first PUT fails with 400 RequestTimeout
//   "stall-once"              the first PUT of part 2 (or of the object) is
//                             never read nor answered
//   "lose-completion-answer"  the first completion is carried out, but its
//                             connection closes instead of the answer
//   "endless-answer"          a PUT is answered 200 with a body that goes on
//                             (64 MiB at most) until the client closes
//   "slow-parts"              each part PUT waits 300 ms before it is handled;
//                             "INFLIGHT <n> <url>" in the log counts the part
//                             PUTs of the key open at its start
// A HEAD request is also logged as "HEAD-AT <milliseconds since 1970> <url>".
// Connections are kept alive for 5 s after an answer, as S3 keeps them.
'use strict';

const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const https = require('https');
const path = require('path');

const [prefix, directory, logFile, certFile, keyFile] = process.argv.slice(2);
const S3rver = require(path.join(prefix, 'node_modules', 's3rver'));
const FilesystemStore = require(path.join(prefix, 'node_modules', 's3rver', 'lib', 'stores', 'filesystem'));
const secrets = { S3RVER: 'S3RVER' };

function encodeRfc3986(text) {
  return encodeURIComponent(text).replace(
    /[!'()*]/g,
    ch => '%' + ch.charCodeAt(0).toString(16).toUpperCase(),
  );
}

function sendError(req, res, status, code, message) {
  // Read the body first: answering mid-upload would reset the client's send.
  req.resume();
  req.on('end', () => {
    const body =
      '<?xml version="1.0" encoding="UTF-8"?>\n' +
      `<Error><Code>${code}</Code><Message>${message}</Message></Error>`;
    res.writeHead(status, {
      'Content-Type': 'application/xml',
      'Content-Length': Buffer.byteLength(body),
    });
    res.end(body);
  });
}

// The expected signature of a request signed with the Authorization header, or
// null when the header is malformed.
function expectedSignature(req, auth, secret) {
  const match = /^AWS4-HMAC-SHA256 Credential=([^/]+)\/(\d{8})\/([^/]+)\/([^/]+)\/aws4_request, ?SignedHeaders=([^,]+), ?Signature=([0-9a-f]{64})$/.exec(
    auth,
  );
  if (!match) return null;
  const [, , date, region, service, signedHeaders] = match;
  const [rawPath, rawQuery = ''] = req.url.split('?', 2);
  const canonicalUri = rawPath
    .split('/')
    .map(segment => encodeRfc3986(decodeURIComponent(segment)))
    .join('/');
  const canonicalQuery = rawQuery
    .split('&')
    .filter(item => item.length > 0)
    .map(item => {
      const [key, value = ''] = item.split('=', 2);
      return (
        encodeRfc3986(decodeURIComponent(key)) +
        '=' +
        encodeRfc3986(decodeURIComponent(value))
      );
    })
    .sort()
    .join('&');
  const names = signedHeaders.split(';');
  if (!names.includes('host') || !names.includes('x-amz-date')) return null;
  const canonicalHeaders = names
    .map(name => `${name}:${String(req.headers[name] || '').trim().replace(/\s+/g, ' ')}\n`)
    .join('');
  const canonicalRequest = [
    req.method,
    canonicalUri,
    canonicalQuery,
    canonicalHeaders,
    signedHeaders,
    req.headers['x-amz-content-sha256'] || '',
  ].join('\n');
  const scope = `${date}/${region}/${service}/aws4_request`;
  const stringToSign = [
    'AWS4-HMAC-SHA256',
    req.headers['x-amz-date'],
    scope,
    crypto.createHash('sha256').update(canonicalRequest).digest('hex'),
  ].join('\n');
  const hmac = (key, text) => crypto.createHmac('sha256', key).update(text).digest();
  let key = hmac('AWS4' + secret, date);
  key = hmac(key, region);
  key = hmac(key, service);
  key = hmac(key, 'aws4_request');
  return { accessKey: match[1], signature: match[6], expected: hmac(key, stringToSign).toString('hex') };
}

// s3rver files an object under its key joined as a path, so "a/./b/../c" would
// land on "a/c" and "../y" outside the bucket. Keys are not paths in S3: a
// segment of one or two dots, with any "!" after it, gets one "!" more on disk.
function keepDotSegments() {
  const mapSegments = (key, map) => key.split('/').map(map).join('/');
  const { encodeKeyPath, decodeKeyPath } = FilesystemStore;
  FilesystemStore.encodeKeyPath = key =>
    encodeKeyPath(mapSegments(key, s => (/^\.\.?!*$/.test(s) ? s + '!' : s)));
  FilesystemStore.decodeKeyPath = keyPath =>
    mapSegments(decodeKeyPath(keyPath), s => (/^\.\.?!+$/.test(s) ? s.slice(0, -1) : s));
}

async function main() {
  keepDotSegments();
  const store = new S3rver({
    directory,
    silent: true,
    configureBuckets: [{ name: 'bucket', configs: [] }],
  });
  await store.configureBuckets();
  const handle = store.callback();
  const firstTimes = new Set();
  const firstTime = what => !firstTimes.has(what) && firstTimes.add(what);
  const inflight = new Map();

  const handler = (req, res) => {
    fs.appendFileSync(logFile, `${req.method} ${req.url}\n`);
    if (req.method === 'HEAD') fs.appendFileSync(logFile, `HEAD-AT ${Date.now()} ${req.url}\n`);
    const auth = req.headers['authorization'];
    if (auth) {
      const checked = expectedSignature(req, auth, '');
      if (!checked) {
        return sendError(req, res, 400, 'AuthorizationHeaderMalformed', 'The authorization header is malformed.');
      }
      const secret = secrets[checked.accessKey];
      // Unknown keys are left to s3rver, which answers InvalidAccessKeyId.
      if (secret !== undefined) {
        const { signature, expected } = expectedSignature(req, auth, secret);
        if (signature !== expected) {
          return sendError(req, res, 403, 'SignatureDoesNotMatch',
            'The request signature we calculated does not match the signature you provided.');
        }
      }
    }
    const url = new URL(req.url, 'http://127.0.0.1');
    if (req.method === 'DELETE' && url.searchParams.has('uploadId')) {
      // s3rver 3 has no abort; the parts it kept are dropped with the store.
      req.resume();
      res.writeHead(204);
      return res.end();
    }
    // The path as sent: URL resolves "." and "..".
    const key = req.url.split('?', 1)[0];
    const part = url.searchParams.get('partNumber');
    if (req.method === 'PUT' && key.includes('inject-part-failure') && part === '2') {
      return sendError(req, res, 500, 'InternalError', 'Injected failure of part 2.');
    }
    if (req.method === 'PUT' && key.includes('request-timeout-once') && firstTime('timeout ' + key)) {
      return sendError(req, res, 400, 'RequestTimeout',
        'Your socket connection to the server was not read from or written to within the timeout period.');
    }
    if (req.method === 'PUT' && key.includes('stall-once') && (part === null || part === '2') &&
        firstTime('stall ' + key)) {
      req.pause();
      return;
    }
    const uploadId = url.searchParams.get('uploadId');
    if (req.method === 'POST' && uploadId !== null) {
      // s3rver answers a repeated completion with 500; S3 with NoSuchUpload.
      if (!firstTime('completion ' + uploadId)) {
        return sendError(req, res, 404, 'NoSuchUpload', 'The specified upload does not exist.');
      }
    }
    if (req.method === 'POST' && key.includes('lose-completion-answer') &&
        url.searchParams.has('uploadId') && firstTime('complete ' + key)) {
      res.writeHead = () => res;
      res.write = () => true;
      res.end = () => {
        req.socket.destroy();
        return res;
      };
      return handle(req, res);
    }
    if (req.method === 'PUT' && key.includes('endless-answer')) {
      req.resume();
      res.writeHead(200, { 'Content-Type': 'application/xml' });
      const block = Buffer.alloc(64 * 1024, '<x/>');
      let left = 1024;
      const pour = () => {
        while (left > 0 && !res.destroyed) {
          --left;
          if (!res.write(block)) return res.once('drain', pour);
        }
        res.end();
      };
      return pour();
    }
    if (req.method === 'PUT' && key.includes('slow-parts') && part !== null) {
      const open = (inflight.get(key) || 0) + 1;
      inflight.set(key, open);
      fs.appendFileSync(logFile, `INFLIGHT ${open} ${req.url}\n`);
      res.on('close', () => inflight.set(key, inflight.get(key) - 1));
      return setTimeout(() => handle(req, res), 300);
    }
    return handle(req, res);
  };
  const server = certFile
    ? https.createServer({ cert: fs.readFileSync(certFile), key: fs.readFileSync(keyFile) }, handler)
    : http.createServer(handler);
  // An idle connection stays open this long after an answer.
  server.keepAliveTimeout = 5000;
  server.listen(0, '127.0.0.1', () => {
    process.stdout.write(`PORT ${server.address().port}\n`);
  });
  process.stdin.on('end', () => process.exit(0));
  process.stdin.resume();
}

main().catch(err => {
  console.error(err);
  process.exit(1);
});
