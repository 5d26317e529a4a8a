// The setup's own texts (English and Russian), joined to the language catalogue at start-up.
// Callers read them with GetLangStr (qorLang.h), never from this table directly.
#pragma once

namespace qor {

// Adds the setup texts: Russian (language ID 1049) for 1049, English (1033) for any other ID.
void SetupLangFiller(int LangID);

// Registers SetupLangFiller with the catalogue; runs after InitializeQorLang.
void InitializeQuorvexSetupLang();
// Nothing to undo; present for the symmetry of the start-up and shut-down sequence.
void FinalizeQuorvexSetupLang();

}  // namespace qor
