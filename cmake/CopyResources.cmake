# Copies the files the program reads at run time beside it: bitmaps, icon and
# the patches folder. The help book's sources and the desktop entry stay
# behind; the book is zipped into place by HelpBook.cmake, the desktop entry
# is only installed. Run as: cmake -DSOURCE=<resources> -DDEST=<bin> -P this.
file(COPY ${SOURCE}/ DESTINATION ${DEST}
  PATTERN help EXCLUDE
  PATTERN desktop EXCLUDE)
