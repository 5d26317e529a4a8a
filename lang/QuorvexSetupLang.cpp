#include "QuorvexSetupLang.h"

#include "qorLang.h"

namespace qor {

namespace {

struct SetupLangRow {
  const wchar_t* key;
  const wchar_t* english;
  const wchar_t* russian;
};

const SetupLangRow kSetupLangTable[] = {
    {L"IniFilePosition", L"Location of the wincmd.ini file", L"Расположение файла wincmd.ini"},
    {L"OpenDialogCaption", L"Select the wincmd.ini file", L"Выберите файл wincmd.ini"},
    {L"PluginList", L"WCX plugins without 64 bit version", L"WCX плагины без 64 битной версии"},
    {L"PluginListFileName", L"Filename", L"Имя файла"},
    {L"PluginListFilePath", L"Path", L"Директория"},
    {L"InstallButtonAllUser", L"Install for all users", L"Инсталлировать для всех пользователей"},
    {L"InstallButtonCurrentUser", L"Install for current user only",
     L"Инсталлировать только для текущего пользователя"},
    {L"UninstallButtonAllUser", L"Uninstall for all users", L"Деинсталлировать для всех пользователей"},
    {L"UninstallButtonCurrentUser", L"Uninstall for current user only",
     L"Деинсталлировать только для текущего пользователя"},
    {L"SetupPath", L"Setup path", L"Директория установки"},
    {L"CloseProcesses", L"To continue installation, you need to end the following processes:",
     L"Для продолжения установки необходимо закрыть следующие процессы:"},
    // %s: the file's full path; %s: the error text.
    {L"ErrorUpdateFile", L"Could not update %s. Error: %s", L"Не удалось обновить файл %s. Произошла ошибка %s"},
    // %s: the file name of the host server; %d: its exit code.
    {L"ErrorServer", L"Could not install server %s. Error: %d", L"Не удалось установить сервер %s. Произошла ошибка %d"},
    {L"InstallSuccessful", L"Installation successful", L"Инсталляция произведена успешно."},
    {L"UninstallSuccessful", L"Uninstallation successful", L"Деинсталляция произведена успешно."},
};

}  // namespace

void SetupLangFiller(int LangID) {
  const bool russian = LangID == LangRussian;
  for (const auto& row : kSetupLangTable) {
    AddLangStr(row.key, russian ? row.russian : row.english, russian ? LangRussian : LangEnglish);
  }
}

void InitializeQuorvexSetupLang() { RegisterLangFiller(SetupLangFiller); }

void FinalizeQuorvexSetupLang() {}

}  // namespace qor
