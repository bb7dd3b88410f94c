// The one translation unit that holds the code of the stb_image and stb_image_write headers
// (Debian's libstb-dev), which read and write PNG for both builds of mkupdate.
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
