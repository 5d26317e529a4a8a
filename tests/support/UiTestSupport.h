// Helpers of the window tests: fonts with chosen dialog units, captions of chosen pixel widths, GDI
// object counts, screenshots, and message pumping.
#pragma once
#include <windows.h>

#include <string>

#include "Handles.h"

namespace qortest {

using qor::FontHandle;

// The system message font (SPI_GETNONCLIENTMETRICS), as the forms take it.
LOGFONTW MessageFont();

// A font (derived from the system message font by height and average width) whose 52-letter measurement
// gives the dialog units cx, cy; empty when no such font exists here.
FontHandle FontWithDialogUnits(int cx, int cy);
// A font whose 52-letter extent is not a multiple of 52 and whose remainder is at least 26 (so that
// rounding and truncation give different units); extent receives the measured size.
FontHandle FontWithUnevenExtent(SIZE& extent);
// The 52-letter extent of a font, measured here.
SIZE MeasureDialogText(HFONT font);
// A caption whose extent in font is exactly width pixels; empty when none was found.
std::wstring CaptionOfWidth(HFONT font, int width);
int TextWidth(HFONT font, const std::wstring& text);

// The number of GDI objects this process holds: GetGuiResources, or, where that is not implemented
// (Wine), the entries of the process's GDI handle table.
int GdiObjectCount();

// The build folder's screenshots folder (created), from QOR_TEST_BIN = <build>/bin.
std::wstring ScreenshotFolder();
// Copies the window's screen area into a 24-bit BMP file; returns the number of distinct colours seen
// (0 when the capture failed).
int SaveWindowScreenshot(HWND window, const std::wstring& path);

// Handles waiting messages for about the given time.
void PumpMessages(DWORD milliseconds = 50);

}  // namespace qortest
