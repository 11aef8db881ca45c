#pragma once
// RAII handles for GStreamer and GLib objects. Only platform/ includes this.
// Adopt() takes over a reference the caller owns (a "transfer full" return);
// Retain() adds a reference of its own (a "transfer none" return).

#include <gst/gst.h>

#include <utility>

namespace veltrano::gsth {

template <typename T>
struct HandleTraits {  // every GstObject: elements, pads, buses, bins
    static void Unref(T* p) { gst_object_unref(p); }
    static T* Ref(T* p) { return static_cast<T*>(gst_object_ref(p)); }
};

#define VELTRANO_MINI_OBJECT_TRAITS(Type, unref, ref)          \
    template <>                                                \
    struct HandleTraits<Type> {                                \
        static void Unref(Type* p) { unref(p); }               \
        static Type* Ref(Type* p) { return ref(p); }           \
    };

VELTRANO_MINI_OBJECT_TRAITS(GstCaps, gst_caps_unref, gst_caps_ref)
VELTRANO_MINI_OBJECT_TRAITS(GstMessage, gst_message_unref, gst_message_ref)
VELTRANO_MINI_OBJECT_TRAITS(GstBuffer, gst_buffer_unref, gst_buffer_ref)
VELTRANO_MINI_OBJECT_TRAITS(GstSample, gst_sample_unref, gst_sample_ref)
VELTRANO_MINI_OBJECT_TRAITS(GstEvent, gst_event_unref, gst_event_ref)
VELTRANO_MINI_OBJECT_TRAITS(GstQuery, gst_query_unref, gst_query_ref)
VELTRANO_MINI_OBJECT_TRAITS(GstTagList, gst_tag_list_unref, gst_tag_list_ref)
#undef VELTRANO_MINI_OBJECT_TRAITS

template <>
struct HandleTraits<GError> {
    static void Unref(GError* p) { g_error_free(p); }
    static GError* Ref(GError* p) { return g_error_copy(p); }
};

template <>
struct HandleTraits<GstIterator> {
    static void Unref(GstIterator* p) { gst_iterator_free(p); }
    static GstIterator* Ref(GstIterator* p) { return gst_iterator_copy(p); }
};

template <>
struct HandleTraits<gchar> {
    static void Unref(gchar* p) { g_free(p); }
    static gchar* Ref(gchar* p) { return g_strdup(p); }
};

template <typename T>
class Handle {
public:
    Handle() = default;
    Handle(std::nullptr_t) {}
    static Handle Adopt(T* p) { return Handle(p); }
    static Handle Retain(T* p) { return Handle(p ? HandleTraits<T>::Ref(p) : nullptr); }

    Handle(const Handle& o) : p_(o.p_ ? HandleTraits<T>::Ref(o.p_) : nullptr) {}
    Handle(Handle&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Handle& operator=(Handle o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Handle() { reset(); }

    void reset() {
        if (T* p = std::exchange(p_, nullptr)) HandleTraits<T>::Unref(p);
    }
    // Hands the reference to a callee that takes it ("transfer full" argument).
    [[nodiscard]] T* release() { return std::exchange(p_, nullptr); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For out-parameters that return an owned reference (GError** and the like).
    T** out() {
        reset();
        return &p_;
    }

private:
    explicit Handle(T* p) : p_(p) {}
    T* p_ = nullptr;
};

using Element = Handle<GstElement>;
using Pad = Handle<GstPad>;
using Bus = Handle<GstBus>;
using Caps = Handle<GstCaps>;
using Message = Handle<GstMessage>;
using Buffer = Handle<GstBuffer>;
using Sample = Handle<GstSample>;
using Error = Handle<GError>;
using Iterator = Handle<GstIterator>;
using String = Handle<gchar>;
using TagList = Handle<GstTagList>;
using Query = Handle<GstQuery>;

// Elements are created floating; this takes the floating reference so the
// handle owns one reference whether or not a bin later adds its own.
inline Element MakeElement(const char* factory, const char* name = nullptr) {
    GstElement* e = gst_element_factory_make(factory, name);
    if (!e) return {};
    return Element::Adopt(GST_ELEMENT(gst_object_ref_sink(e)));
}

// The ranked factories of a kind that take these caps, best first; free
// with gst_plugin_feature_list_free.
inline GList* FactoriesTaking(GstElementFactoryListType type, GstCaps* caps) {
    GList* all = gst_element_factory_list_get_elements(type, GST_RANK_MARGINAL);
    GList* fitting = gst_element_factory_list_filter(all, caps, GST_PAD_SINK, FALSE);
    gst_plugin_feature_list_free(all);
    return fitting;
}

inline bool SomeFactoryTakes(GstElementFactoryListType type, GstCaps* caps) {
    GList* fitting = FactoriesTaking(type, caps);
    const bool any = fitting != nullptr;
    gst_plugin_feature_list_free(fitting);
    return any;
}

}  // namespace veltrano::gsth
