// The library's framework application object, made when the library loads.
// It has no behaviour: the module's services need no application state.
namespace device {

class CDeviceApp {};

CDeviceApp theApp;

}  // namespace device
