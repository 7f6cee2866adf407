#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "server/command_options.h"

namespace ravdel {

class Store;

// The options the figure commands share, read from the dispatcher's parsed arguments. Each
// throws CommandLineError for a value it cannot read.

// The moment an option gives (see analysis/time_text.h); nothing when the option is absent.
std::optional<std::int64_t> momentOption(const CommandArguments& arguments, const std::string& name,
                                         std::int64_t nowUs);
// The store: --store, else the station's own history beside the settings file.
std::string figuresStoreLocation(const CommandArguments& arguments);
// Opens that store; a SQLite file that is not there is an error, not a new store. Throws
// StoreError.
std::unique_ptr<Store> openFiguresStore(const CommandArguments& arguments);

// `value` with `decimals` digits after the point, as the tables print figures.
std::string fixedText(double value, int decimals);

// Now, as UTC microseconds.
std::int64_t nowMicroseconds();

}  // namespace ravdel
