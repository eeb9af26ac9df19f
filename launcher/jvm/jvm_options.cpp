#include "jvm/jvm_options.h"

#include "core/config_keys.h"
#include "core/expansion.h"
#include "core/locale.h"
#include "core/log.h"
#include "core/process.h"
#include "jvm/class_path.h"
#include "jvm/vmoptions.h"
#include "portable/option_words.h"
#include "win/encoding.h"

namespace {

void addConfiguredOptions(OptionAssembly& assembly) {
    std::wstring text = getConfigWideString(key::kJvmOptions);
    expandVariables(text, /*ansiForms=*/true);
    ArgumentList words;
    splitCommandLine(text, words);
    logMessage("adding options\n");
    for (const std::wstring& option : joinIncludeOptionWords(words))
        addOption(assembly, nullptr, option);
}

void addCommandLineOptions(OptionAssembly& assembly, const ArgumentList& words) {
    if (getConfigInt(key::kJOptionsAreJvmOptions) == 0)
        return;
    for (const std::wstring& word : words)
        if (isJvmOptionWord(word))
            addOption(assembly, nullptr, word.substr(2));
}

// A locale word other than "...=true" asks for the user's language and country as well.
void addLocaleOptions(OptionAssembly& assembly, const ArgumentList& words) {
    std::optional<std::wstring> word = lastLocaleFormatWord(words);
    if (!word)
        return;
    addOption(assembly, nullptr, *word);
    if (isLocaleFormatTrue(*word))
        return;
    std::string language, country;
    if (getLocaleLanguage(language))
        addOption(assembly, nullptr, L"-Duser.language=" + widenBytes(language));
    if (getLocaleCountry(country))
        addOption(assembly, nullptr, L"-Duser.country=" + widenBytes(country));
}

void addDefaultOptionsFile(OptionAssembly& assembly) {
    UniqueFile file = openDefaultOptionsFile();
    logMessage("default vmoptions file: %p", file ? file.get() : nullptr);
    readOptionsFile(assembly, nullptr, std::move(file));
}

} // namespace

std::vector<std::string> buildJvmOptions(const ArgumentList& commandLineWords,
                                         const std::vector<std::string>& launcherSystemProperties) {
    OptionAssembly assembly;
    assembly.options = launcherSystemProperties;
    addConfiguredOptions(assembly);
    addCommandLineOptions(assembly, commandLineWords);
    addLocaleOptions(assembly, commandLineWords);
    addDefaultOptionsFile(assembly);
    assembly.options.push_back(buildClassPathOption(assembly.classPath));
    return assembly.options;
}
