package com.quillon.packer;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/** The packer as a library: what {@code java -jar packer.jar pack} does, for build tools. */
public final class Packer {

    private Packer() {
    }

    /**
     * Writes the launcher that {@code config} describes from {@code stub} into {@code out}. A
     * failed run leaves no output file behind.
     *
     * @return warnings about things that pack but may not work as meant
     * @throws PackerException with a one-line reason when the inputs are refused or writing fails
     */
    public static List<String> pack(Path config, Path stub, Path out) throws PackerException {
        PackerConfig c = PackerConfig.load(config);
        ProductSettings product = c.product();
        List<ResourceWriter.Resource> resources = new ArrayList<>(product.resources);
        resources.addAll(c.resources());
        Path archive = null;
        try {
            if (product.bundledRuntime != null) {
                Path dir = out.toAbsolutePath().getParent();
                archive = dir != null && Files.isDirectory(dir) ? Files.createTempFile(dir, ".jre.", ".tmp")
                        : Files.createTempFile(".jre.", ".tmp");
                long size = RuntimeArchive.write(product.bundledRuntime, archive);
                if (size > Integer.MAX_VALUE) {
                    throw new PackerException("bundledRuntime: the archive unpacks to " + size
                            + " bytes; the installer counts its progress in a 32-bit number");
                }
                c.addBundledRuntime(archive, size);
            }
            ResourceWriter.pack(stub, resources, c.content(), out, product.signing, product.subsystem);
        } catch (IOException e) {
            throw new PackerException("cannot write the runtime archive: " + e.getMessage(), e);
        } finally {
            if (archive != null) {
                try {
                    Files.deleteIfExists(archive);
                } catch (IOException ignored) {
                    // a stray temp file is the lesser problem
                }
            }
        }
        List<String> warnings = new ArrayList<>(c.warnings());
        warnings.addAll(ClassPathCheck.warnings(c.content()));
        return warnings;
    }
}
