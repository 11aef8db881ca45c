#pragma once
// The "location" property of our file elements: the path of the file to read.

#include <glib-object.h>

#include <string>

namespace veltrano {

inline constexpr guint kLocationPropertyId = 1;

void InstallLocationProperty(GObjectClass* klass, const char* blurb);

// set_property and get_property for a class whose only property it is.
void SetLocationProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec, std::string& location);
void GetLocationProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec, const std::string& location);

}  // namespace veltrano
