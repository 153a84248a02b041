#pragma once

#include "PkgProgram/Command.h"

// Copies the named fields of a program record into a command kind, in the
// order given: how each kind takes over its own part of the record.
template <class... Field>
void CopyFields(Command& kind, const Command& record, Field Command::*... fields)
{
    ((kind.*fields = record.*fields), ...);
}
