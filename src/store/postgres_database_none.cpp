#include "store/database.h"

namespace ravdel {

// Builds without libpq (the Windows station) keep their history in SQLite only.
std::unique_ptr<Database> openPostgres(const std::string&) {
  throw StoreError("this build has no PostgreSQL engine");
}

bool postgresAvailable() {
  return false;
}

}  // namespace ravdel
