#include "media/elements/LocationProperty.h"

namespace veltrano {

void InstallLocationProperty(GObjectClass* klass, const char* blurb) {
    g_object_class_install_property(klass, kLocationPropertyId,
                                    g_param_spec_string("location", "Location", blurb, nullptr,
                                                        GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
}

void SetLocationProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec, std::string& location) {
    if (id != kLocationPropertyId) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    const gchar* text = g_value_get_string(value);
    location = text ? text : "";
}

void GetLocationProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec, const std::string& location) {
    if (id != kLocationPropertyId) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    g_value_set_string(value, location.c_str());
}

}  // namespace veltrano
