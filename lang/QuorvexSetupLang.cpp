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
    // Refusals before a run touches anything.
    {L"ErrorNoIniFile", L"Choose the wincmd.ini file first.", L"Сначала выберите файл wincmd.ini."},
    {L"ErrorNoSetupPath", L"Choose the setup path first.", L"Сначала выберите директорию установки."},
    // %s: the path as it stands.
    {L"ErrorPathNotFull", L"%s is not a full path. A full path begins with a drive (C:\\) or a network share (\\\\server\\share).",
     L"%s не является полным путём. Полный путь начинается с диска (C:\\) или сетевого ресурса (\\\\server\\share)."},
    // %s: the plugin as wincmd.ini names it.
    {L"ErrorPluginPathNotFull", L"The plugin %s has no full path in wincmd.ini. Untick it or correct its entry in wincmd.ini.",
     L"Плагин %s указан в wincmd.ini без полного пути. Снимите с него отметку или исправьте его запись в wincmd.ini."},
    // %s: the ".wcx64" file.
    {L"ErrorNotProxyCopy", L"%s is a 64-bit plugin, not a copy of the proxy plugin, and is left alone. Start the setup again to see the plugins it can serve.",
     L"%s является 64-битным плагином, а не копией прокси-плагина, и не будет изменён. Запустите установку заново, чтобы увидеть плагины, которые она может обслужить."},
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
