// Linux stand-ins for the platform interfaces live in this library.
