#pragma once

namespace parcelon {

class Desktop;

// Makes sure the mail host's application object can be created. When it
// cannot, the user is told what to check and the program ends: the call
// then throws ProgramEnding with exit status 1 instead of returning.
void EnsureMailHost(Desktop& desktop);

} // namespace parcelon
