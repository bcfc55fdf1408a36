// The text commands of a windowed program: where their output goes.
#pragma once

namespace quillon {

// A Windows GUI program has no console of its own. When its standard output and error lead
// nowhere (started from a console window, not redirected), they are connected to the console of
// the program that started it, if it has one; redirected output stays where it goes.
void UseParentConsole();

}  // namespace quillon
