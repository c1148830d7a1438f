#include "host/gtk/file_dialogs_gtk.h"

#include "bridge/glib_handles.h"

#include <gtk/gtk.h>
#include <picojson.h>

#include <algorithm>
#include <cctype>

namespace kx5 {

struct GtkFileDialogs::Open {
    GtkFileDialogs* owner = nullptr;
    glib::Ref<GtkFileChooserNative> chooser;
    GtkWidget* confirm = nullptr;
    FileDialogJob job;
    Answer answer;
    std::string pendingPath;
};

std::string caseInsensitivePattern(const std::string& pattern) {
    std::string out;
    for (char c : pattern) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalpha(u)) {
            out += '[';
            out += static_cast<char>(std::tolower(u));
            out += static_cast<char>(std::toupper(u));
            out += ']';
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

std::string documentsFolder() {
    const char* docs = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    return docs ? docs : g_get_home_dir();
}

void useFolderIfPresent(GtkFileChooser* chooser, const std::string& folder) {
    if (!folder.empty() && g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR))
        gtk_file_chooser_set_current_folder(chooser, folder.c_str());
}

std::string chosenPath(GtkFileChooser* chooser) {
    const glib::Text name(gtk_file_chooser_get_filename(chooser));
    return name ? name.get() : "";
}

// Every chosen file, as a JSON array of paths.
std::string chosenPaths(GtkFileChooser* chooser) {
    picojson::array paths;
    GSList* names = gtk_file_chooser_get_filenames(chooser);
    for (GSList* n = names; n; n = n->next)
        paths.emplace_back(std::string(static_cast<const char*>(n->data)));
    g_slist_free_full(names, g_free);
    return picojson::value(paths).serialize();
}

} // namespace

struct FileDialogSignals {
    static void response(GtkNativeDialog*, int responseId, GtkFileDialogs::Open* open) {
        if (responseId != GTK_RESPONSE_ACCEPT) {
            open->owner->finish(open, "");
            return;
        }
        if (open->job.multiple) {
            open->owner->finish(open, chosenPaths(GTK_FILE_CHOOSER(open->chooser.get())));
            return;
        }
        const std::string chosen = chosenPath(GTK_FILE_CHOOSER(open->chooser.get()));
        if (open->job.kind != FileDialogKind::Save || chosen.empty()) {
            open->owner->finish(open, chosen);
            return;
        }
        const std::string path = withDefaultExtension(chosen, open->job.extension);
        // The chooser asked before replacing the name the user typed; a name
        // that got its extension only now has to be asked about here.
        if (path == chosen || !g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) {
            open->owner->finish(open, path);
            return;
        }
        open->pendingPath = path;
        const glib::Text base(g_path_get_basename(path.c_str()));
        open->confirm = gtk_message_dialog_new(
            open->owner->parent_, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO,
            "A file named \"%s\" already exists. Replace it?", base.get());
        g_signal_connect(open->confirm, "response", G_CALLBACK(confirmed), open);
        gtk_widget_show(open->confirm);
    }

    static void confirmed(GtkDialog* dialog, int responseId, GtkFileDialogs::Open* open) {
        gtk_widget_destroy(GTK_WIDGET(dialog));
        open->confirm = nullptr;
        if (responseId == GTK_RESPONSE_YES) {
            open->owner->finish(open, open->pendingPath);
            return;
        }
        // Back to the chooser to pick another name.
        const glib::Text base(g_path_get_basename(open->pendingPath.c_str()));
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(open->chooser.get()), base.get());
        gtk_native_dialog_show(GTK_NATIVE_DIALOG(open->chooser.get()));
    }
};

GtkFileDialogs::GtkFileDialogs(GtkWindow* parent) : parent_(parent) {}

// The chooser is closed without answering; its reference goes with the Open.
void GtkFileDialogs::close(Open& open) {
    g_signal_handlers_disconnect_by_data(open.chooser.get(), &open);
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(open.chooser.get()));
}

GtkFileDialogs::~GtkFileDialogs() {
    for (auto& open : open_) {
        if (open->confirm) gtk_widget_destroy(open->confirm);
        close(*open);
    }
}

void GtkFileDialogs::show(const FileDialogJob& job, Answer answer) {
    GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
    const char* title = "Open File";
    const char* accept = "_Open";
    if (job.kind == FileDialogKind::Save) {
        action = GTK_FILE_CHOOSER_ACTION_SAVE;
        title = "Save File";
        accept = "_Save";
    } else if (job.kind == FileDialogKind::ChooseFolder) {
        action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
        title = "Choose Folder";
        accept = "_Select";
    } else if (job.multiple) {
        title = "Open Files";
    }
    auto open = std::make_unique<Open>();
    open->owner = this;
    open->job = job;
    open->answer = std::move(answer);
    open->chooser.reset(gtk_file_chooser_native_new(title, parent_, action, accept, "_Cancel"));
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(open->chooser.get());
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(open->chooser.get()), TRUE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    if (job.multiple) gtk_file_chooser_set_select_multiple(chooser, TRUE);
    for (const auto& f : job.filters) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, f.name.c_str());
        for (const auto& p : f.patterns)
            gtk_file_filter_add_pattern(filter, caseInsensitivePattern(p).c_str());
        gtk_file_chooser_add_filter(chooser, filter); // takes the floating reference
    }
    if (job.kind == FileDialogKind::Save) {
        gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
        gtk_file_chooser_set_current_folder(chooser, documentsFolder().c_str());
        // The proposed name shows the extension the file will get.
        const std::string name = withDefaultExtension(job.proposedName, job.extension);
        if (!name.empty()) gtk_file_chooser_set_current_name(chooser, name.c_str());
    } else {
        useFolderIfPresent(chooser, job.initialFolder);
    }
    g_signal_connect(open->chooser.get(), "response", G_CALLBACK(FileDialogSignals::response),
                     open.get());
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(open->chooser.get()));
    open_.push_back(std::move(open));
}

void GtkFileDialogs::finish(Open* open, const std::string& path) {
    Answer answer = std::move(open->answer);
    auto it =
        std::find_if(open_.begin(), open_.end(), [open](const auto& p) { return p.get() == open; });
    if (it != open_.end()) {
        close(*open);
        open_.erase(it);
    }
    if (answer) answer(path);
}

} // namespace kx5
