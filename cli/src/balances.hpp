// The balance checks in words: check's diagnostics and show's status.
#pragma once

#include <string>
#include <vector>

#include "mirtle/balances.hpp"

namespace mirtle_cli {

struct BalanceFinding {
  bool error;           // arithmetic or continuity broken; else the documents' sums differ
  std::string message;  // without file, line or severity
};

// What is wrong with the row, errors first; nothing for a sound row.
std::vector<BalanceFinding> balance_findings(const mirtle::BalanceRow& row);

// One word or a few for show: "ok", "does not add up", ...
std::string balance_status(const mirtle::BalanceRow& row);

}  // namespace mirtle_cli
