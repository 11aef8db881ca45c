#include "tests/support/SlowFileSource.h"

#include "media/elements/FileReader.h"

#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>

#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrano::test {

namespace {

constexpr const char* kElementName = "veltranoslowfilesrc";

// The gate all readers share; guarded by its mutex.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    int made = 0;
    int firstHeld = 0;  // 0: nobody is held
    int waiting = 0;
};

Gate& TheGate() {
    static Gate gate;
    return gate;
}

struct ReaderState {
    std::string location;
    int fd = -1;
    guint64 size = 0;
    int number = 0;         // the order in which readers were made
    bool flushing = false;  // the graph changes state: stop waiting
};

struct SlowSrc {
    GstBaseSrc parent;
    ReaderState* state;
};

struct SlowSrcClass {
    GstBaseSrcClass parent_class;
};

GType slow_src_get_type();
void slow_src_uri_handler_init(gpointer iface, gpointer);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // GLib's type macros are C
G_DEFINE_TYPE_WITH_CODE(SlowSrc, slow_src, GST_TYPE_BASE_SRC,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_URI_HANDLER, slow_src_uri_handler_init))
#pragma GCC diagnostic pop

SlowSrc* Self(gpointer p) { return static_cast<SlowSrc*>(p); }

gboolean Start(GstBaseSrc* src) {
    ReaderState& s = *Self(src)->state;
    s.fd = open(s.location.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (s.fd < 0 || fstat(s.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        GST_ELEMENT_ERROR(src, RESOURCE, OPEN_READ, ("Could not open file \"%s\" for reading.", s.location.c_str()),
                          GST_ERROR_SYSTEM);
        if (s.fd >= 0) close(s.fd);
        s.fd = -1;
        return FALSE;
    }
    s.size = static_cast<guint64>(st.st_size);
    return TRUE;
}

gboolean Stop(GstBaseSrc* src) {
    ReaderState& s = *Self(src)->state;
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
    return TRUE;
}

gboolean GetSize(GstBaseSrc* src, guint64* size) {
    *size = Self(src)->state->size;
    return Self(src)->state->fd >= 0;
}

gboolean IsSeekable(GstBaseSrc*) { return TRUE; }

// The slow disk: a held reader waits in each read until released or flushed.
bool WaitAtTheGate(ReaderState& s) {
    Gate& gate = TheGate();
    std::unique_lock lock(gate.mutex);
    const auto held = [&] { return gate.firstHeld != 0 && s.number >= gate.firstHeld; };
    if (held()) {
        ++gate.waiting;
        gate.changed.notify_all();
        gate.changed.wait(lock, [&] { return !held() || s.flushing; });
        --gate.waiting;
        gate.changed.notify_all();
    }
    return !s.flushing;
}

GstFlowReturn Fill(GstBaseSrc* src, guint64 offset, guint length, GstBuffer* buf) {
    ReaderState& s = *Self(src)->state;
    if (!WaitAtTheGate(s)) return GST_FLOW_FLUSHING;
    GstMapInfo map;
    if (!gst_buffer_map(buf, &map, GST_MAP_WRITE)) return GST_FLOW_ERROR;
    const ssize_t got = pread(s.fd, map.data, std::min<std::size_t>(length, map.size), static_cast<off_t>(offset));
    gst_buffer_unmap(buf, &map);
    if (got < 0) {
        GST_ELEMENT_ERROR(src, RESOURCE, READ, ("Could not read file \"%s\".", s.location.c_str()), GST_ERROR_SYSTEM);
        return GST_FLOW_ERROR;
    }
    if (got == 0) return GST_FLOW_EOS;
    gst_buffer_resize(buf, 0, got);
    return GST_FLOW_OK;
}

gboolean Unlock(GstBaseSrc* src) {
    Gate& gate = TheGate();
    std::lock_guard lock(gate.mutex);
    Self(src)->state->flushing = true;
    gate.changed.notify_all();
    return TRUE;
}

gboolean UnlockStop(GstBaseSrc* src) {
    std::lock_guard lock(TheGate().mutex);
    Self(src)->state->flushing = false;
    return TRUE;
}

gboolean Query(GstBaseSrc* src, GstQuery* query) {
    if (GST_QUERY_TYPE(query) == GST_QUERY_URI) {
        gchar* uri = gst_filename_to_uri(Self(src)->state->location.c_str(), nullptr);
        if (uri) {
            gst_query_set_uri(query, uri);
            g_free(uri);
            return TRUE;
        }
    }
    return GST_BASE_SRC_CLASS(slow_src_parent_class)->query(src, query);
}

constexpr guint kLocationProperty = 1;

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    if (id != kLocationProperty) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    const gchar* text = g_value_get_string(value);
    Self(object)->state->location = text ? text : "";
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    if (id != kLocationProperty) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    g_value_set_string(value, Self(object)->state->location.c_str());
}

void Finalize(GObject* object) {
    delete Self(object)->state;
    G_OBJECT_CLASS(slow_src_parent_class)->finalize(object);
}

GstURIType UriType(GType) { return GST_URI_SRC; }

const gchar* const* Protocols(GType) {
    static const gchar* const protocols[] = {"file", nullptr};
    return protocols;
}

gchar* GetUri(GstURIHandler* handler) {
    return gst_filename_to_uri(Self(handler)->state->location.c_str(), nullptr);
}

gboolean SetUri(GstURIHandler* handler, const gchar* uri, GError** error) {
    gchar* location = gst_uri_get_location(uri);
    if (!location) {
        g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_URI, "Not a file URI: %s", uri);
        return FALSE;
    }
    Self(handler)->state->location = location;
    g_free(location);
    return TRUE;
}

void slow_src_uri_handler_init(gpointer iface, gpointer) {
    auto* uri = static_cast<GstURIHandlerInterface*>(iface);
    uri->get_type = &UriType;
    uri->get_protocols = &Protocols;
    uri->get_uri = &GetUri;
    uri->set_uri = &SetUri;
}

GstStaticPadTemplate kSrcTemplate = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

void slow_src_class_init(SlowSrcClass* klass) {
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->finalize = &Finalize;
    objectClass->set_property = &SetProperty;
    objectClass->get_property = &GetProperty;
    g_object_class_install_property(objectClass, kLocationProperty,
                                    g_param_spec_string("location", "Location", "The file to read", nullptr,
                                                        GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(elementClass, &kSrcTemplate);
    gst_element_class_set_static_metadata(elementClass, "Slow file source (tests)", "Source/File",
                                          "Reads files, answering when the test lets it", "Veltrano tests");
    GstBaseSrcClass* baseClass = GST_BASE_SRC_CLASS(klass);
    baseClass->start = &Start;
    baseClass->stop = &Stop;
    baseClass->get_size = &GetSize;
    baseClass->is_seekable = &IsSeekable;
    baseClass->fill = &Fill;
    baseClass->unlock = &Unlock;
    baseClass->unlock_stop = &UnlockStop;
    baseClass->query = &Query;
}

void slow_src_init(SlowSrc* self) {
    self->state = new ReaderState;
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_BYTES);
    Gate& gate = TheGate();
    std::lock_guard lock(gate.mutex);
    self->state->number = ++gate.made;
}

// The same reader under the conversion's own name for its file source.
struct SlowConversionReader {
    SlowSrc parent;
};
struct SlowConversionReaderClass {
    SlowSrcClass parent_class;
};
GType slow_conversion_reader_get_type();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
G_DEFINE_TYPE(SlowConversionReader, slow_conversion_reader, slow_src_get_type())
#pragma GCC diagnostic pop
void slow_conversion_reader_class_init(SlowConversionReaderClass*) {}
void slow_conversion_reader_init(SlowConversionReader*) {}

// Puts a type behind the conversion's file source name; returns the one it had.
GType ReplaceConversionReader(GType type) {
    GType previous = G_TYPE_INVALID;
    if (GstElementFactory* f = gst_element_factory_find(kFileReaderElementName)) {
        previous = gst_element_factory_get_element_type(f);
        gst_object_unref(f);
    }
    if (type != G_TYPE_INVALID) (void)gst_element_register(nullptr, kFileReaderElementName, GST_RANK_NONE, type);
    return previous;
}

GType g_conversionReader = G_TYPE_INVALID;  // the product's, while replaced

void SetRank(guint rank) {
    static const bool registered = gst_element_register(nullptr, kElementName, GST_RANK_NONE, slow_src_get_type());
    (void)registered;
    GstPluginFeature* f = gst_registry_lookup_feature(gst_registry_get(), kElementName);
    if (!f) return;
    gst_plugin_feature_set_rank(f, rank);
    gst_object_unref(f);
}

}  // namespace

SlowFileSource::SlowFileSource() {
    {
        Gate& gate = TheGate();
        std::lock_guard lock(gate.mutex);
        gate.made = 0;
        gate.firstHeld = 0;
    }
    SetRank(GST_RANK_PRIMARY + 100);  // above filesrc
    g_conversionReader = ReplaceConversionReader(slow_conversion_reader_get_type());
}

SlowFileSource::~SlowFileSource() {
    Release();
    SetRank(GST_RANK_NONE);
    (void)ReplaceConversionReader(g_conversionReader);
}

void SlowFileSource::Hold(int firstHeld) {
    Gate& gate = TheGate();
    std::lock_guard lock(gate.mutex);
    gate.firstHeld = firstHeld;
    gate.changed.notify_all();
}

void SlowFileSource::Release() { Hold(0); }

int SlowFileSource::made() const {
    Gate& gate = TheGate();
    std::lock_guard lock(gate.mutex);
    return gate.made;
}

int SlowFileSource::waiting() const {
    Gate& gate = TheGate();
    std::lock_guard lock(gate.mutex);
    return gate.waiting;
}

}  // namespace veltrano::test
