// Entry points of the OV_CPU backend plug-in. The library opens this file at
// run time and looks up the two unmangled symbols below; everything else in
// the plug-in is hidden.

#include "OVModel.h"

#include <cstdio>
#include <new>
#include <type_traits>

#define OVPLUGIN_EXPORT __attribute__((visibility("default")))

// Called once per process after the library was opened. The plug-in keeps no
// process-wide state of its own, so there is nothing to prepare.
extern "C" OVPLUGIN_EXPORT void Initialize()
{
}

// Reads, decrypts and loads one ".vino" model. Returns a model whose
// IsLoaded() tells whether that worked; no exception leaves this function.
// Null is returned only when not even the small model object can be
// allocated.
extern "C" OVPLUGIN_EXPORT ONN::INNModel* Create(ONN::ModelParams params)
{
    try
    {
        return new OVPlugin::OVModel(params);
    }
    catch (...)
    {
        std::printf("OVPlugin: out of memory while creating a model\n");
    }
    return nullptr;
}

static_assert(std::is_same<decltype(&Initialize), ONN::InitializeMethod>::value,
              "Initialize must match the loader's entry-point type");
static_assert(std::is_same<decltype(&Create), ONN::CreateMethod>::value,
              "Create must match the loader's entry-point type");
