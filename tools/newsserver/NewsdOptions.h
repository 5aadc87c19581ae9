#pragma once
// The command line of zevrin-newsd.
#include <cstdint>
#include <string>
#include <vector>

#include "FaultPlan.h"
#include "GenerateRequest.h"
#include "NewsServer.h"

namespace zev::testserver {

struct FNewsdOptions {
  FServerOptions server;
  std::string tlsCertFile, tlsKeyFile;
  bool tlsSelfSigned = false;
  std::string certDir;       // where a made certificate set is written
  std::string makeCertsDir;  // --make-certs: write certificates and exit
  std::string portFile;
  std::vector<std::string> privateGroups;
  uint64_t seed = 1;
  std::vector<FGenerateRequest> generate;
  std::string spoolDir;
  std::string manifestFile;
  std::string saveFilesDir;
  std::vector<FFault> faults;
  bool quiet = false;
  bool help = false;
};

// Parses the arguments; false with a message in `error` for anything it cannot use.
bool ParseNewsdOptions(const std::vector<std::string>& args, FNewsdOptions& out, std::string& error);
std::string NewsdUsage();

}  // namespace zev::testserver
