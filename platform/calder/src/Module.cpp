// Anchor of the base library; its parts are added from src/link and src/instrument.
namespace calder {
const char* LibraryName() { return "CalderDLL64uvc19"; }
} // namespace calder
