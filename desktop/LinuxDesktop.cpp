#include "desktop/LinuxDesktop.h"

// The error icon goes on a message box through the one call GTK 3 has for it,
// deprecated in favour of building the box by hand.
#define GDK_DISABLE_DEPRECATION_WARNINGS

#include <dlfcn.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <gtk/gtk.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

extern char** environ;

namespace vto {

namespace {

// ---- libraries loaded on demand -------------------------------------------------

// Looks a symbol up in a library opened on first use; the function pointer type is
// taken from the library's own declaration.
#define VTO_SYM(handle, name) reinterpret_cast<decltype(&name)>(dlsym(handle, #name))

struct Gtk {
  bool ready = false;
  decltype(&gtk_init_check) init_check = nullptr;
  decltype(&gtk_message_dialog_new) message_dialog_new = nullptr;
  decltype(&gtk_window_set_title) window_set_title = nullptr;
  decltype(&gtk_window_set_position) window_set_position = nullptr;
  decltype(&gtk_window_set_keep_above) window_set_keep_above = nullptr;
  decltype(&gtk_dialog_add_button) dialog_add_button = nullptr;
  decltype(&gtk_dialog_set_default_response) dialog_set_default_response = nullptr;
  decltype(&gtk_dialog_run) dialog_run = nullptr;
  decltype(&gtk_widget_destroy) widget_destroy = nullptr;
  decltype(&gtk_events_pending) events_pending = nullptr;
  decltype(&gtk_main_iteration) main_iteration = nullptr;
  decltype(&gtk_image_new_from_icon_name) image_new_from_icon_name = nullptr;
  decltype(&gtk_message_dialog_set_image) message_dialog_set_image = nullptr;
  decltype(&gtk_widget_show) widget_show = nullptr;
};

// GTK is initialised when the first dialog is shown, and only when a display is
// there to show it on.
Gtk* LoadGtk() {
  static Gtk gtk;
  static std::once_flag once;
  std::call_once(once, [] {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((x11 == nullptr || *x11 == '\0') && (wayland == nullptr || *wayland == '\0')) return;
    void* h = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) return;
    gtk.init_check = VTO_SYM(h, gtk_init_check);
    gtk.message_dialog_new = VTO_SYM(h, gtk_message_dialog_new);
    gtk.window_set_title = VTO_SYM(h, gtk_window_set_title);
    gtk.window_set_position = VTO_SYM(h, gtk_window_set_position);
    gtk.window_set_keep_above = VTO_SYM(h, gtk_window_set_keep_above);
    gtk.dialog_add_button = VTO_SYM(h, gtk_dialog_add_button);
    gtk.dialog_set_default_response = VTO_SYM(h, gtk_dialog_set_default_response);
    gtk.dialog_run = VTO_SYM(h, gtk_dialog_run);
    gtk.widget_destroy = VTO_SYM(h, gtk_widget_destroy);
    gtk.events_pending = VTO_SYM(h, gtk_events_pending);
    gtk.main_iteration = VTO_SYM(h, gtk_main_iteration);
    gtk.image_new_from_icon_name = VTO_SYM(h, gtk_image_new_from_icon_name);
    gtk.message_dialog_set_image = VTO_SYM(h, gtk_message_dialog_set_image);
    gtk.widget_show = VTO_SYM(h, gtk_widget_show);
    if (!gtk.init_check || !gtk.message_dialog_new || !gtk.window_set_title ||
        !gtk.window_set_position || !gtk.window_set_keep_above || !gtk.dialog_add_button ||
        !gtk.dialog_set_default_response || !gtk.dialog_run || !gtk.widget_destroy ||
        !gtk.events_pending || !gtk.main_iteration || !gtk.image_new_from_icon_name ||
        !gtk.message_dialog_set_image || !gtk.widget_show)
      return;
    gtk.ready = gtk.init_check(nullptr, nullptr) != 0;
  });
  return gtk.ready ? &gtk : nullptr;
}

struct Gio {
  bool ready = false;
  decltype(&g_file_new_for_path) file_new_for_path = nullptr;
  decltype(&g_file_get_uri) file_get_uri = nullptr;
  decltype(&g_content_type_guess) content_type_guess = nullptr;
  decltype(&g_app_info_get_default_for_type) app_info_get_default_for_type = nullptr;
  decltype(&g_app_info_launch_uris_async) app_info_launch_uris_async = nullptr;
  decltype(&g_app_info_launch_uris_finish) app_info_launch_uris_finish = nullptr;
  decltype(&g_main_context_new) main_context_new = nullptr;
  decltype(&g_main_context_push_thread_default) main_context_push_thread_default = nullptr;
  decltype(&g_main_context_pop_thread_default) main_context_pop_thread_default = nullptr;
  decltype(&g_main_context_iteration) main_context_iteration = nullptr;
  decltype(&g_main_context_unref) main_context_unref = nullptr;
  decltype(&g_object_unref) object_unref = nullptr;
  decltype(&g_free) free = nullptr;
  decltype(&g_error_free) error_free = nullptr;
  decltype(&g_cancellable_new) cancellable_new = nullptr;
  decltype(&g_cancellable_cancel) cancellable_cancel = nullptr;
  decltype(&g_timeout_source_new) timeout_source_new = nullptr;
  decltype(&g_source_set_callback) source_set_callback = nullptr;
  decltype(&g_source_attach) source_attach = nullptr;
  decltype(&g_source_destroy) source_destroy = nullptr;
  decltype(&g_source_unref) source_unref = nullptr;
};

Gio* LoadGio() {
  static Gio gio;
  static std::once_flag once;
  std::call_once(once, [] {
    void* h = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) return;
    gio.file_new_for_path = VTO_SYM(h, g_file_new_for_path);
    gio.file_get_uri = VTO_SYM(h, g_file_get_uri);
    gio.content_type_guess = VTO_SYM(h, g_content_type_guess);
    gio.app_info_get_default_for_type = VTO_SYM(h, g_app_info_get_default_for_type);
    gio.app_info_launch_uris_async = VTO_SYM(h, g_app_info_launch_uris_async);
    gio.app_info_launch_uris_finish = VTO_SYM(h, g_app_info_launch_uris_finish);
    gio.main_context_new = VTO_SYM(h, g_main_context_new);
    gio.main_context_push_thread_default = VTO_SYM(h, g_main_context_push_thread_default);
    gio.main_context_pop_thread_default = VTO_SYM(h, g_main_context_pop_thread_default);
    gio.main_context_iteration = VTO_SYM(h, g_main_context_iteration);
    gio.main_context_unref = VTO_SYM(h, g_main_context_unref);
    gio.object_unref = VTO_SYM(h, g_object_unref);
    gio.free = VTO_SYM(h, g_free);
    gio.error_free = VTO_SYM(h, g_error_free);
    gio.cancellable_new = VTO_SYM(h, g_cancellable_new);
    gio.cancellable_cancel = VTO_SYM(h, g_cancellable_cancel);
    gio.timeout_source_new = VTO_SYM(h, g_timeout_source_new);
    gio.source_set_callback = VTO_SYM(h, g_source_set_callback);
    gio.source_attach = VTO_SYM(h, g_source_attach);
    gio.source_destroy = VTO_SYM(h, g_source_destroy);
    gio.source_unref = VTO_SYM(h, g_source_unref);
    gio.ready = gio.cancellable_new && gio.cancellable_cancel && gio.timeout_source_new &&
                gio.source_set_callback && gio.source_attach && gio.source_destroy &&
                gio.source_unref && gio.file_new_for_path && gio.file_get_uri &&
                gio.content_type_guess && gio.app_info_get_default_for_type &&
                gio.app_info_launch_uris_async && gio.app_info_launch_uris_finish &&
                gio.main_context_new && gio.main_context_push_thread_default &&
                gio.main_context_pop_thread_default && gio.main_context_iteration &&
                gio.main_context_unref && gio.object_unref && gio.free && gio.error_free;
  });
  return gio.ready ? &gio : nullptr;
}

#undef VTO_SYM

int ErrnoToShellResult(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return kSeErrFileNotFound;
    case EACCES:
    case EPERM:
    case ETXTBSY:
      return kSeErrAccessDenied;
    case ENOMEM:
    case EAGAIN:
      return kSeErrOutOfMemory;
    default:
      return kSeErrNoAssociation;
  }
}

}  // namespace

void LinuxDesktop::ShowDialog(DialogKind kind, const std::string& caption,
                              const std::string& text) {
  Gtk* gtk = LoadGtk();
  if (gtk == nullptr) {
    // No display: the caption and the text go to standard error, and the box
    // counts as closed.
    std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return;
  }
  const bool error = kind != DialogKind::Message;
  GtkWidget* dialog = gtk->message_dialog_new(nullptr, GTK_DIALOG_MODAL,
                                              error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_OTHER,
                                              GTK_BUTTONS_NONE, "%s", text.c_str());
  const bool cancel = kind == DialogKind::Error;
  // Esc closes the box like its one button does.
  gtk->dialog_add_button(reinterpret_cast<GtkDialog*>(dialog), cancel ? "Cancel" : "OK",
                         cancel ? GTK_RESPONSE_CANCEL : GTK_RESPONSE_OK);
  gtk->dialog_set_default_response(reinterpret_cast<GtkDialog*>(dialog),
                                   cancel ? GTK_RESPONSE_CANCEL : GTK_RESPONSE_OK);
  gtk->window_set_title(reinterpret_cast<GtkWindow*>(dialog), caption.c_str());
  gtk->window_set_position(reinterpret_cast<GtkWindow*>(dialog), GTK_WIN_POS_CENTER);
  gtk->window_set_keep_above(reinterpret_cast<GtkWindow*>(dialog), TRUE);
  if (error) {
    // GTK 3 draws no icon for the message type alone.
    GtkWidget* icon = gtk->image_new_from_icon_name("dialog-error", GTK_ICON_SIZE_DIALOG);
    gtk->message_dialog_set_image(reinterpret_cast<GtkMessageDialog*>(dialog), icon);
    gtk->widget_show(icon);
  }
  gtk->dialog_run(reinterpret_cast<GtkDialog*>(dialog));
  gtk->widget_destroy(dialog);
  while (gtk->events_pending()) gtk->main_iteration();
}

std::string LinuxDesktop::GetEnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value == nullptr ? std::string() : std::string(value);
}

int LinuxDesktop::StartProgram(const std::string& path, const std::string& parameters) {
  // A program is started as one or not at all: a file that cannot be run is
  // never handed to whatever application its content would open with.
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0)
    return ErrnoToShellResult(errno ? errno : ENOENT);
  if (!S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0) return kSeErrAccessDenied;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return kSeErrOutOfMemory;
  // The child keeps standard input, output and error and nothing else.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::string program = path;
  std::string argument = parameters;
  char* argv[3] = {program.data(), parameters.empty() ? nullptr : argument.data(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return ErrnoToShellResult(rc);
  // Not waited for; a detached reaper collects its status so that a long-lived
  // caller keeps no zombie. When this process ends first, init adopts the child.
  try {
    std::thread([pid] {
      int status;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (...) {
    // No thread to be had: the child still runs; its status is left for init.
  }
  return 42;
}

namespace {
std::atomic<int> gHandOverLimit{30000};

struct LaunchWait {
  bool done = false;
  bool ok = false;
  bool timedOut = false;
  Gio* gio = nullptr;
};

void OnLaunched(GObject* source, GAsyncResult* result, gpointer data) {
  auto* wait = static_cast<LaunchWait*>(data);
  GError* error = nullptr;
  wait->ok = wait->gio->app_info_launch_uris_finish(reinterpret_cast<GAppInfo*>(source), result,
                                                    &error) != 0;
  if (error != nullptr) wait->gio->error_free(error);
  wait->done = true;
}

gboolean OnHandOverLimit(gpointer data) {
  static_cast<LaunchWait*>(data)->timedOut = true;
  return G_SOURCE_REMOVE;
}
}  // namespace

void LinuxDesktop::SetLaunchHandOverLimit(int milliseconds) {
  gHandOverLimit.store(milliseconds > 0 ? milliseconds : 1);
}

int LinuxDesktop::OpenDocument(const std::string& path) {
  Gio* gio = LoadGio();
  if (gio == nullptr) return kSeErrNoAssociation;
  gboolean uncertain = FALSE;
  gchar* type = gio->content_type_guess(path.c_str(), nullptr, 0, &uncertain);
  if (type == nullptr) return kSeErrNoAssociation;
  GAppInfo* app = gio->app_info_get_default_for_type(type, FALSE);
  gio->free(type);
  if (app == nullptr) return kSeErrNoAssociation;

  GFile* file = gio->file_new_for_path(path.c_str());
  gchar* uri = gio->file_get_uri(file);
  GList item{uri, nullptr, nullptr};
  // The launch is complete (the program spawned, or the D-Bus activation
  // delivered) before this returns, so the process may end right after.
  // A launch that is not handed over in time (an application activated over
  // D-Bus that never answers) is called off and counts as failed.
  GMainContext* context = gio->main_context_new();
  gio->main_context_push_thread_default(context);
  auto wait = std::make_unique<LaunchWait>();
  wait->gio = gio;
  GCancellable* cancel = gio->cancellable_new();
  GSource* limit = gio->timeout_source_new(static_cast<guint>(gHandOverLimit.load()));
  gio->source_set_callback(limit, OnHandOverLimit, wait.get(), nullptr);
  gio->source_attach(limit, context);
  gio->app_info_launch_uris_async(app, &item, nullptr, cancel, OnLaunched, wait.get());
  while (!wait->done && !wait->timedOut) gio->main_context_iteration(context, TRUE);
  if (!wait->done) {
    // Cancelled, the launch ends at once; a second, short limit keeps even a
    // launch that ignores the cancel from holding the process.
    gio->cancellable_cancel(cancel);
    wait->timedOut = false;
    gio->source_destroy(limit);
    gio->source_unref(limit);
    limit = gio->timeout_source_new(1000);
    gio->source_set_callback(limit, OnHandOverLimit, wait.get(), nullptr);
    gio->source_attach(limit, context);
    while (!wait->done && !wait->timedOut) gio->main_context_iteration(context, TRUE);
    wait->ok = false;
  }
  gio->source_destroy(limit);
  gio->source_unref(limit);
  gio->main_context_pop_thread_default(context);
  const bool ok = wait->ok;
  // A launch still pending holds the wait it reports to: it stays.
  if (!wait->done) (void)wait.release();
  gio->object_unref(cancel);
  gio->main_context_unref(context);
  gio->free(uri);
  gio->object_unref(file);
  gio->object_unref(app);
  return ok ? 42 : kSeErrAccessDenied;
}

int LinuxDesktop::ShellExecute(const std::string& file, const std::string& parameters) {
  struct stat st {};
  if (file.empty() || stat(file.c_str(), &st) != 0)
    return ErrnoToShellResult(errno ? errno : ENOENT);
  if (S_ISDIR(st.st_mode)) return kSeErrNoAssociation;
  // An executable file is a program; anything else is a document for its application.
  if (access(file.c_str(), X_OK) == 0) return StartProgram(file, parameters);
  return OpenDocument(file);
}

// ---- files, folders and names ---------------------------------------------------

bool IsExistingFile(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    // A link counts only when what it names can be opened for reading.
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    close(fd);
    return true;
  }
  return !S_ISDIR(st.st_mode);
}

std::size_t SearchPath(std::string_view list, std::string_view name, std::string& found) {
  if (name.empty()) return 0;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string_view::npos) end = list.size();
    std::string folder(list.substr(start, end - start));
    // An empty entry names no folder: the current folder is never searched, so a
    // program dropped there cannot be started by accident.
    if (!folder.empty()) {
      std::string candidate = folder;
      if (candidate.back() != '/') candidate += '/';
      candidate += name;
      struct stat st {};
      if (lstat(candidate.c_str(), &st) == 0) {
        found = candidate;
        return found.size();
      }
    }
    start = end + 1;
  }
  return 0;
}

std::string GetTempFolder() {
  std::string folder = GetEnvironmentVariable("TMPDIR");
  if (folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string MakeTempFileName(std::string_view prefix) {
  const std::string folder = GetTempFolder();
  const std::string head = folder + std::string(prefix.substr(0, 3));
  // Start from a value that differs between runs and processes, then walk the
  // 65535 possible names until one can be created exclusively.
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  unsigned seed =
      static_cast<unsigned>(now) ^ (static_cast<unsigned>(getpid()) << 7) ^ counter.fetch_add(7919);
  for (unsigned attempt = 0; attempt < 0xFFFF; ++attempt) {
    const unsigned number = ((seed + attempt) % 0xFFFF) + 1;  // 1 .. FFFF
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X", number);
    std::string name = head + digits + ".tmp";
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      return name;
    }
    if (errno != EEXIST) break;  // folder missing or not writable: no name to be had
  }
  return std::string();
}

bool WriteNewFile(const std::string& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      ok = false;
  }
  if (close(fd) != 0) ok = false;
  // The name is ours in a folder where others cannot remove or rename it
  // (the temporary folder is sticky): a half-written file goes again.
  if (!ok) unlink(path.c_str());
  return ok;
}

}  // namespace vto
