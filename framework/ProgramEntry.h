// The program's entry, called by each platform's main() once its widgetset is in use.
#pragma once

int LumetraMain(int argc, char** argv);
