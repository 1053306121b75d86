/* The smallest CGI program: prints a fixed page. The benchmark times it
   beside the board's pages to show what process start alone costs. */
#include <stdio.h>

int main(void) {
  fputs("Content-type: text/html\n\n<HTML><BODY>hello</BODY></HTML>\n", stdout);
  return 0;
}
