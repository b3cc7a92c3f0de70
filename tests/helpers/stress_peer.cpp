// A helper process for the concurrency tests: runs the stress workload's threads on one
// catalog and prints every thread's log of acknowledged writes, then "end".
//
// It then waits for "exit" on its input.
//
// Arguments: PREFIX NAME DIR WORKER THREADS OPS SEED OWN-NODES(0/1) TRANSACTIONS(0/1).
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "../reliability/ReliabilityStress.h"
#include "PeerLoop.h"

namespace {

// Runs the workload the arguments describe, then waits for "exit".
int stress(int, char** argv) {
  vdrel::StressOptions o;
  o.worker = std::atoi(argv[4]);
  o.threads = std::atoi(argv[5]);
  o.ops = std::atoi(argv[6]);
  o.seed = static_cast<unsigned>(std::strtoul(argv[7], nullptr, 10));
  o.ownNodes = std::atoi(argv[8]) != 0;
  o.transactions = std::atoi(argv[9]) != 0;
  for (const auto& line : vdrel::runStress(argv[2], argv[3], o)) std::cout << line << '\n';
  std::cout << "end" << std::endl;
  std::string line;
  while (std::getline(std::cin, line) && line != "exit") {
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return vdpeer::argumentMain(
      argc, argv, 10, "stress_peer PREFIX NAME DIR WORKER THREADS OPS SEED OWN TXN", stress);
}
