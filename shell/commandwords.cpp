// The command words: the shell's own commands found from the first word of a text.
#include <algorithm>

#include "helper.h"
#include "zentra/words.h"

namespace orva {

namespace {

struct CommandWord {
    const wchar_t* word;
    CommandKind kind;
};

constexpr CommandWord kCommandWords[] = {
    {L"use", CMD_USE},      {L"quit", CMD_EXIT},     {L"exit", CMD_EXIT},   {L"help", CMD_HELP},
    {L"?", CMD_HELP},       {L"redo", CMD_REDO},     {L"hi", CMD_REDO},     {L"set", CMD_SET},
    {L"start", CMD_START},  {L"@", CMD_START},       {L"spool", CMD_SPOOL}, {L"declare", CMD_DECLARE},
    {L"decl", CMD_DECLARE}, {L"host", CMD_HOST},     {L"!", CMD_HOST},      {L"show", CMD_SHOW},
    {L"desc", CMD_DESC},    {L"server", CMD_SERVER}, {L".", CMD_SERVER},    {L"edit", CMD_EDIT},
    {L"ed", CMD_EDIT},      {L"/", CMD_RUN},         {L"go", CMD_RUN},      {L"pause", CMD_PAUSE},
    {L"pau", CMD_PAUSE},
};

}  // namespace

CommandKind CCommandHelper::ClassifyCommand(const CString& text) const {
    zentra::CWordPaster words(text.c_str(), nullptr, nullptr);
    if (words.GetWordCount() == 0) return CMD_NONE;
    CString first = words.GetWord(0);
    for (const auto& entry : kCommandWords)
        if (zentra::EqualsNoCase(first, entry.word)) return entry.kind;
    return CMD_NONE;
}

CommandKind CCommandHelper::ClassifyStart(const CString& text, size_t from) const {
    // No command word is longer than 7 characters; a longer first word is no command.
    constexpr size_t kLook = 64;
    return ClassifyCommand(text.substr(std::min(from, text.size()), kLook));
}

}  // namespace orva
