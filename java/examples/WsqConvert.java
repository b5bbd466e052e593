import java.io.File;
import javax.imageio.ImageIO;

/** Converts an image file to another format through ImageIO alone, the extension of the
 *  output naming its format: java -cp wsq.jar WsqConvert.java scan.wsq scan.png */
public class WsqConvert {
    public static void main(String[] args) throws Exception {
        String format = args[1].substring(args[1].lastIndexOf('.') + 1);
        if (!ImageIO.write(ImageIO.read(new File(args[0])), format, new File(args[1])))
            throw new IllegalArgumentException("no ImageIO writer for " + format);
    }
}
