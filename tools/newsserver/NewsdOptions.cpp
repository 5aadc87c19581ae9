#include "NewsdOptions.h"

#include <algorithm>
#include <charconv>

#include "NntpCommand.h"

namespace zev::testserver {
namespace {

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && out <= max;
}

bool SplitUser(const std::string& text, FServerOptions& server, std::string& error) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) {
    error = "--user takes NAME:PASSWORD";
    return false;
  }
  server.session.users[text.substr(0, colon)] = text.substr(colon + 1);
  return true;
}

bool ParseDate(const std::string& text, int64_t& out) {
  return text.size() == 14 && ParseNewgroupsTime(text.substr(0, 8), text.substr(8), 2000, out);
}

}  // namespace

std::string NewsdUsage() {
  return R"(usage: zevrin-newsd [options]
A news server for tests and demonstrations. Serves generated or given articles.

Listening
  --port N              plain NNTP port (default 1119; 0 picks a free port)
  --no-plain            no plain listener (with --tls-port)
  --bind ADDR           numeric address to listen on, repeatable (default 127.0.0.1 and ::1)
  --tls-port N          implicit TLS (NNTPS) port (0 picks a free port)
  --tls-cert FILE       certificate (chain) in PEM for the TLS port
  --tls-key FILE        its private key in PEM
  --tls-self-signed     make a throw-away CA and a server certificate for localhost,
                        127.0.0.1 and ::1; with --cert-dir DIR they are written there
  --make-certs DIR      write ca.pem, server.pem, self-signed.pem and their keys, then exit
  --port-file FILE      write "PLAIN_PORT TLS_PORT" (0 when off) once listening
Accounts
  --user NAME:PASSWORD  an account, repeatable (without any, every login succeeds)
  --require-auth        only CAPABILITIES, MODE READER, AUTHINFO, DATE, HELP, QUIT before login
  --private GROUP       group readable only after login, repeatable
  --greeting 200|201    greeting code (default 200)
  --date YYYYMMDDhhmmss fixed answer to DATE (UTC)
Content (deterministic for a given --seed)
  --seed N              (default 1)
  --generate WHAT[:key=value,...]   repeatable:
      standard   files=12 file-size=120000 part-size=40000 texts=30: yEnc sets, uuencode,
                 MIME, broken posts, a private group and text threads
      text       group=zevrin.test.text count=30
      broken     group=zevrin.test.binaries.broken
      bulk       group=zevrin.test.bulk count=1000000 part-size=512: headers computed on demand
      bench      group=zevrin.test.bench size=1G part-size=750000: large yEnc parts
  --spool DIR           serve DIR/<group>/<file> articles (files named by number keep it)
  --manifest FILE       write the JSON manifest of the generated files
  --save-files DIR      write the original files (DIR/<name>)
Behaviour
  --fault FAULT         VERB:KIND[,key=value...], repeatable; VERB is a command or CONNECT;
                        KIND: close, reset-status, reset-data, silent, drip, error=CODE[/TEXT],
                        split=OFF[/OFF...]; keys: conn, skip, times, bytes, delay
  --max-connections N   connections over N get the --limit-code greeting (default 400)
  --limit-code N
  --transcript DIR      write conn-NNNN.txt per connection
  --quiet               no start-up report
  --help
)";
}

bool ParseNewsdOptions(const std::vector<std::string>& args, FNewsdOptions& out, std::string& error) {
  out.server.port = 1119;
  out.server.keepTranscripts = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      v = args[++i];
      return true;
    };
    std::string v;
    uint64_t n = 0;
    if (a == "--help" || a == "-h") out.help = true;
    else if (a == "--quiet") out.quiet = true;
    else if (a == "--no-plain") out.server.port = -1;
    else if (a == "--tls-self-signed") out.tlsSelfSigned = true;
    else if (a == "--require-auth") out.server.session.requireAuth = true;
    else if (!value(v)) return false;
    else if (a == "--port" || a == "--tls-port") {
      if (!ParseNumber(v, 65535, n)) return error = a + ": not a port: " + v, false;
      (a == "--port" ? out.server.port : out.server.tlsPort) = static_cast<int>(n);
    } else if (a == "--bind") {
      if (out.server.bindAddresses == FServerOptions().bindAddresses) out.server.bindAddresses.clear();
      out.server.bindAddresses.push_back(v);
    } else if (a == "--tls-cert") out.tlsCertFile = v;
    else if (a == "--tls-key") out.tlsKeyFile = v;
    else if (a == "--cert-dir") out.certDir = v;
    else if (a == "--make-certs") out.makeCertsDir = v;
    else if (a == "--port-file") out.portFile = v;
    else if (a == "--user") { if (!SplitUser(v, out.server, error)) return false; }
    else if (a == "--private") out.privateGroups.push_back(v);
    else if (a == "--greeting") {
      if (v != "200" && v != "201") return error = "--greeting is 200 or 201", false;
      out.server.session.greetingCode = std::stoi(v);
    } else if (a == "--date") {
      if (!ParseDate(v, out.server.session.fixedNow)) return error = "--date takes YYYYMMDDhhmmss", false;
    } else if (a == "--seed") {
      if (!ParseNumber(v, UINT64_MAX, out.seed)) return error = "--seed takes a number", false;
    } else if (a == "--generate") {
      FGenerateRequest request;
      if (!ParseGenerate(v, request, error)) return false;
      out.generate.push_back(std::move(request));
    } else if (a == "--spool") out.spoolDir = v;
    else if (a == "--manifest") out.manifestFile = v;
    else if (a == "--save-files") out.saveFilesDir = v;
    else if (a == "--fault") {
      FFault fault;
      if (!ParseFault(v, fault, error)) return error = "--fault " + v + ": " + error, false;
      out.faults.push_back(fault);
    } else if (a == "--max-connections") {
      if (!ParseNumber(v, 100000, n)) return error = "--max-connections takes a number", false;
      out.server.maxConnections = static_cast<uint32_t>(n);
    } else if (a == "--limit-code") {
      if (!ParseNumber(v, 599, n) || n < 400) return error = "--limit-code takes 400-599", false;
      out.server.limitCode = static_cast<int>(n);
    } else if (a == "--transcript") out.server.transcriptDir = v;
    else return error = "unknown option " + a, false;
  }
  if (out.server.tlsPort >= 0 && !out.tlsSelfSigned && (out.tlsCertFile.empty() || out.tlsKeyFile.empty()))
    return error = "--tls-port needs --tls-cert and --tls-key, or --tls-self-signed", false;
  if (out.server.port < 0 && out.server.tlsPort < 0) return error = "no listener left (--no-plain without --tls-port)", false;
  return true;
}

}  // namespace zev::testserver
