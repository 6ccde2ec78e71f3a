#pragma once
// Connects the main window's Setup and Help commands to the dialogs.
namespace kalvor {

class frmKALVOR;
class Reader;

void wireWindows(frmKALVOR& window, Reader& reader);

} // namespace kalvor
