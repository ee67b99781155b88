package com.example.consumer;

import com.quenvira.internal.io.BaseFileSystem;
import com.quenvira.io.FileInfo;
import java.io.IOException;

/** Lists a directory and shows one file through basefs, as an application would. */
public final class Main {
    private Main() {
    }

    public static void main(String[] args) throws IOException {
        BaseFileSystem.nInitStatic();
        FileInfo[] entries = BaseFileSystem.nListFileInfos(args[0], 0, null, 0);
        FileInfo one = BaseFileSystem.nGetFileInfo(args[1], "file", 0);
        System.out.println("entries " + entries.length + ", size " + one.getSize());
    }
}
