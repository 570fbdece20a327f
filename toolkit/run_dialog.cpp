// The toolkit's exports.
#include <gtk/gtk.h>

#include <new>

#include "toolkit/dialog.h"

extern "C" __attribute__((visibility("default"))) int32_t KalveroToolkitRunDialog(kv::toolkit::DialogSession& session) {
  // GTK would set the locale from the environment, and the core reads and
  // writes numbers in the C locale.
  static bool started = false;
  if (!started) gtk_disable_setlocale();
  // Only real window systems: the web backend, tried last, would make a
  // cache folder in the user's home on its way to failing.
  if (!started) gdk_set_allowed_backends("x11,wayland");
  if (!gtk_init_check(nullptr, nullptr)) return kv::toolkit::kNoDisplay;
  started = true;
  try {
    kv::toolkit::Dialog dialog(session);
    return dialog.Run();
  } catch (const std::bad_alloc&) {
    return -108;
  } catch (...) {
    return -1;
  }
}

// The core calls the export through the seam's type.
[[maybe_unused]] static constexpr kv::toolkit::RunDialogProc kRunDialog = &KalveroToolkitRunDialog;

// For kalvero --version, which loads the toolkit without starting GTK.
extern "C" __attribute__((visibility("default"))) const char* KalveroToolkitVersion() { return KALVERO_VERSION; }
