// zevrin-newsd: the test news server as a program.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "ArticleGenerator.h"
#include "NewsServer.h"
#include "GenerateRequest.h"
#include "NewsdOptions.h"
#include "SpoolLoader.h"
#include "TestCertificates.h"

using namespace zev::testserver;

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

void SaveFiles(const FManifest& manifest, const std::string& dir) {
  std::filesystem::create_directories(dir);
  for (const FManifestFile& file : manifest.files)
    if (!file.data.empty() || file.size == 0) WriteText(dir + "/" + file.name, file.data);
}

void SetUpTls(FNewsdOptions& o) {
  if (o.server.tlsPort < 0) return;
  if (!o.tlsSelfSigned) {
    o.server.tlsCertPem = ReadText(o.tlsCertFile);
    o.server.tlsKeyPem = ReadText(o.tlsKeyFile);
    return;
  }
  const FPemPair ca = MakeTestCa();
  const FPemPair server = MakeServerCertificate(ca);
  o.server.tlsCertPem = server.certPem;
  o.server.tlsKeyPem = server.keyPem;
  if (!o.certDir.empty()) {
    std::filesystem::create_directories(o.certDir);
    WriteText(o.certDir + "/ca.pem", ca.certPem);
    WriteText(o.certDir + "/server.pem", server.certPem);
  }
  if (!o.quiet) std::printf("TLS certificate fingerprint (SHA-256): %s\n", CertificateFingerprint(server.certPem).c_str());
}

int Run(FNewsdOptions& o) {
  if (!o.makeCertsDir.empty()) {
    std::filesystem::create_directories(o.makeCertsDir);
    WriteTestCertificates(o.makeCertsDir);
    return 0;
  }
  auto store = std::make_shared<TArticleStore>();
  TArticleGenerator generator(*store, o.seed, !o.saveFilesDir.empty());
  for (const FGenerateRequest& request : o.generate) GenerateContent(generator, request);
  if (!o.spoolDir.empty()) {
    FSpoolReport report = LoadSpool(o.spoolDir, *store);
    for (const std::string& skipped : report.skipped) std::fprintf(stderr, "zevrin-newsd: skipped %s\n", skipped.c_str());
    if (!o.quiet) std::printf("spool: %llu articles\n", static_cast<unsigned long long>(report.articles));
  }
  for (const std::string& group : o.privateGroups) store->SetRequiresAuth(group, true);
  if (!o.manifestFile.empty()) WriteText(o.manifestFile, generator.Manifest().ToJson());
  if (!o.saveFilesDir.empty()) SaveFiles(generator.Manifest(), o.saveFilesDir);
  if (!o.server.transcriptDir.empty()) std::filesystem::create_directories(o.server.transcriptDir);
  SetUpTls(o);

  // Signals are taken by sigwait below; blocking them first keeps every server thread
  // (which inherits the mask) out of their way.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  TNewsServer server(store, o.server);
  for (const FFault& fault : o.faults) server.Faults().Add(fault);
  server.Start();
  const int plain = o.server.port >= 0 ? server.Port() : 0;
  const int tls = o.server.tlsPort >= 0 ? server.TlsPort() : 0;
  if (!o.portFile.empty()) WriteText(o.portFile, std::to_string(plain) + " " + std::to_string(tls) + "\n");
  if (!o.quiet) {
    std::printf("zevrin-newsd: %zu groups; listening on", store->Groups().size());
    for (const std::string& a : o.server.bindAddresses) {
      const bool v6 = a.find(':') != std::string::npos;
      if (plain) std::printf(" %s%s%s:%d", v6 ? "[" : "", a.c_str(), v6 ? "]" : "", plain);
      if (tls) std::printf(" %s%s%s:%d (TLS)", v6 ? "[" : "", a.c_str(), v6 ? "]" : "", tls);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  int signal = 0;
  sigwait(&signals, &signal);
  server.Stop();
  if (!o.quiet) std::printf("zevrin-newsd: stopped after %u connections\n", server.TotalConnections());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  FNewsdOptions options;
  std::string error;
  if (!ParseNewsdOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "zevrin-newsd: %s\n%s", error.c_str(), NewsdUsage().c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(NewsdUsage().c_str(), stdout);
    return 0;
  }
  try {
    return Run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zevrin-newsd: %s\n", e.what());
    return 1;
  }
}
