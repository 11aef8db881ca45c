#include "media/elements/FileReader.h"

#include "media/elements/LocationProperty.h"

#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace veltrano {

namespace {

constexpr std::size_t kBlockBytes = 256 * 1024;
constexpr guint64 kBlockAlign = 4096;

struct ReaderState {
    std::string location;
    int fd = -1;
    guint64 size = 0;
    std::vector<guint8> block;
    guint64 blockStart = 0;
    std::size_t blockLength = 0;
};

struct VeltranoFileReader {
    GstBaseSrc parent;
    ReaderState* state;
};

struct VeltranoFileReaderClass {
    GstBaseSrcClass parent_class;
};

GType veltrano_file_reader_get_type();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // GLib's type macros are C
G_DEFINE_TYPE(VeltranoFileReader, veltrano_file_reader, GST_TYPE_BASE_SRC)
#pragma GCC diagnostic pop

VeltranoFileReader* Self(gpointer p) { return static_cast<VeltranoFileReader*>(p); }

// Reads up to 'length' bytes at 'offset'; fewer only at the end of the file.
// -1 on a read error, with errno set.
gssize ReadFully(int fd, guint8* dst, std::size_t length, guint64 offset) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = pread(fd, dst + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<gssize>(done);
}

// Copies 'length' bytes at 'offset' into dst, refilling the block as needed;
// a request as large as a block is read straight into dst.
gssize ReadAt(ReaderState& s, guint64 offset, guint8* dst, std::size_t length) {
    if (length >= kBlockBytes) return ReadFully(s.fd, dst, length, offset);
    std::size_t done = 0;
    while (done < length) {
        const guint64 at = offset + done;
        if (at < s.blockStart || at >= s.blockStart + s.blockLength) {
            s.blockStart = at / kBlockAlign * kBlockAlign;
            const gssize n = ReadFully(s.fd, s.block.data(), kBlockBytes, s.blockStart);
            if (n < 0) {
                s.blockLength = 0;
                return -1;
            }
            s.blockLength = static_cast<std::size_t>(n);
            if (at >= s.blockStart + s.blockLength) break;  // the end of the file
        }
        const std::size_t n = std::min<std::size_t>(length - done, s.blockStart + s.blockLength - at);
        std::memcpy(dst + done, s.block.data() + (at - s.blockStart), n);
        done += n;
    }
    return static_cast<gssize>(done);
}

void CloseFile(ReaderState& s) {
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
    s.block.clear();
    s.block.shrink_to_fit();
    s.blockLength = 0;
}

gboolean Start(GstBaseSrc* src) {
    ReaderState& s = *Self(src)->state;
    s.fd = open(s.location.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (s.fd < 0 || fstat(s.fd, &st) != 0) {
        if (errno == ENOENT)
            GST_ELEMENT_ERROR(src, RESOURCE, NOT_FOUND, ("No such file \"%s\".", s.location.c_str()), GST_ERROR_SYSTEM);
        else
            GST_ELEMENT_ERROR(src, RESOURCE, OPEN_READ, ("Could not open file \"%s\" for reading.", s.location.c_str()),
                              GST_ERROR_SYSTEM);
        CloseFile(s);
        return FALSE;
    }
    // Reads are positioned: a pipe or a device would fail them only later.
    if (!S_ISREG(st.st_mode)) {
        GST_ELEMENT_ERROR(src, RESOURCE, OPEN_READ, ("\"%s\" is not a regular file.", s.location.c_str()), (nullptr));
        CloseFile(s);
        return FALSE;
    }
    s.size = static_cast<guint64>(st.st_size);
    s.block.resize(kBlockBytes);
    s.blockStart = 0;
    s.blockLength = 0;
    return TRUE;
}

gboolean Stop(GstBaseSrc* src) {
    CloseFile(*Self(src)->state);
    return TRUE;
}

gboolean GetSize(GstBaseSrc* src, guint64* size) {
    ReaderState& s = *Self(src)->state;
    if (s.fd < 0) return FALSE;
    *size = s.size;
    return TRUE;
}

gboolean IsSeekable(GstBaseSrc*) { return TRUE; }

GstFlowReturn Fill(GstBaseSrc* src, guint64 offset, guint length, GstBuffer* buf) {
    ReaderState& s = *Self(src)->state;
    GstMapInfo map;
    if (!gst_buffer_map(buf, &map, GST_MAP_WRITE)) return GST_FLOW_ERROR;
    const gssize got = ReadAt(s, offset, map.data, std::min<std::size_t>(length, map.size));
    gst_buffer_unmap(buf, &map);
    if (got < 0) {
        GST_ELEMENT_ERROR(src, RESOURCE, READ, ("Could not read file \"%s\".", s.location.c_str()), GST_ERROR_SYSTEM);
        return GST_FLOW_ERROR;
    }
    if (got == 0) return GST_FLOW_EOS;
    gst_buffer_resize(buf, 0, got);
    GST_BUFFER_OFFSET(buf) = offset;
    GST_BUFFER_OFFSET_END(buf) = offset + static_cast<guint64>(got);
    return GST_FLOW_OK;
}

// Demuxers name their streams after the source's URI. Without one, every
// stream gets a random name, and the parser then puts them out in a random
// order instead of the file's.
gboolean Query(GstBaseSrc* src, GstQuery* query) {
    if (GST_QUERY_TYPE(query) == GST_QUERY_URI) {
        gchar* uri = gst_filename_to_uri(Self(src)->state->location.c_str(), nullptr);
        if (uri) {
            gst_query_set_uri(query, uri);
            g_free(uri);
            return TRUE;
        }
    }
    return GST_BASE_SRC_CLASS(veltrano_file_reader_parent_class)->query(src, query);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    SetLocationProperty(object, id, value, pspec, Self(object)->state->location);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GetLocationProperty(object, id, value, pspec, Self(object)->state->location);
}

void Finalize(GObject* object) {
    delete Self(object)->state;
    G_OBJECT_CLASS(veltrano_file_reader_parent_class)->finalize(object);
}

GstStaticPadTemplate kSrcTemplate = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

void veltrano_file_reader_class_init(VeltranoFileReaderClass* klass) {
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = &SetProperty;
    objectClass->get_property = &GetProperty;
    objectClass->finalize = &Finalize;
    InstallLocationProperty(objectClass, "The file to read");
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(elementClass, &kSrcTemplate);
    gst_element_class_set_static_metadata(elementClass, "Veltrano file reader", "Source/File",
                                          "Reads a file in large blocks for demuxers that pull small pieces",
                                          "Veltrano");
    GstBaseSrcClass* baseClass = GST_BASE_SRC_CLASS(klass);
    baseClass->start = &Start;
    baseClass->stop = &Stop;
    baseClass->get_size = &GetSize;
    baseClass->is_seekable = &IsSeekable;
    baseClass->fill = &Fill;
    baseClass->query = &Query;
}

void veltrano_file_reader_init(VeltranoFileReader* self) {
    self->state = new ReaderState;
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_BYTES);
}

}  // namespace

bool RegisterFileReaderElement() {
    return gst_element_register(nullptr, kFileReaderElementName, GST_RANK_NONE, veltrano_file_reader_get_type());
}

}  // namespace veltrano
