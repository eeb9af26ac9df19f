#pragma once

#include <string>

#include "core/configuration.h"

// Chooses the user's locale code once, while the configuration is read.
std::string selectLocale(const ArgumentList* arguments);

// The two-letter language and country of the selected code; false when there is none.
bool getLocaleLanguage(std::string& language);
bool getLocaleCountry(std::string& country);
