// The launcher's only user interface: a modal error box with no owner, the
// caption "Mirelo Browser Setup", one OK button and the error icon.
#ifndef MIR_INSTALLER_WIN_SETUP_LAUNCHER_ERROR_BOX_WIN_H_
#define MIR_INSTALLER_WIN_SETUP_LAUNCHER_ERROR_BOX_WIN_H_

#include <windows.h>

namespace setup_launcher {

inline constexpr wchar_t kErrorBoxCaption[] = L"Mirelo Browser Setup";
inline constexpr wchar_t kInitializationFailedText[] =
    L"Setup initialization failed. Please run the setup again.";
inline constexpr wchar_t kTemporaryFolderFailedText[] =
    L"Setup could not create a temporary folder. Please check disk space and permissions.";
inline constexpr wchar_t kExtractFailedText[] =
    L"Setup could not extract the installer. Please run the setup again or contact support.";
inline constexpr wchar_t kStartFailedText[] =
    L"Setup could not start the installer. Please run the setup again or contact support.";

// Blocks until the user dismisses the box; the answer is of no interest.
void ShowErrorBox(const wchar_t* text);

// The one seam for tests: which icon a box shows cannot be told from another
// process (the icon's handle, and under Wine its bitmaps, belong to the
// process that shows the box), so a test asks here for the style the box is
// given. Everything else about the box is checked on the real one, from
// outside. Null puts MessageBoxW back.
using MessageBoxFunction = int(WINAPI*)(HWND, const wchar_t*, const wchar_t*, UINT);
void SetMessageBoxForTesting(MessageBoxFunction function);

}  // namespace setup_launcher

#endif  // MIR_INSTALLER_WIN_SETUP_LAUNCHER_ERROR_BOX_WIN_H_
