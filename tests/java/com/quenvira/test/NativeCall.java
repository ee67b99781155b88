package com.quenvira.test;

import java.io.IOException;

/** One call of a native method that may fail, for a check of its exception. */
interface NativeCall {
    void run() throws IOException;
}
